#pragma once
// Turns one source's byte stream into channel messages: running status, real-time bytes inside a
// message, SysEx and system common messages skipped, stray data bytes dropped. Nothing it is fed
// can make it fail. One parser per stream (running status belongs to its stream).
// Thread: whichever one feeds it.

#include <cstdint>

#include "midi/MidiMessage.h"

namespace vornik {

class MidiParser {
public:
    // Takes one byte; true when it completed a channel message, written to `out`.
    bool feed(std::uint8_t byte, double time, MidiMessage& out);
    void reset() { *this = MidiParser{}; }

private:
    std::uint8_t status_ = 0;  // the running status, or a system common message being skipped
    std::uint8_t data_ = 0;    // the first data byte of a two-byte message
    int have_ = 0;             // data bytes so far
    bool inSysex_ = false;
};

}  // namespace vornik
