#include "midi/MidiParser.h"

namespace vornik {
namespace {

// Data bytes that follow a status byte.
int dataLength(std::uint8_t status) {
    switch (status & 0xF0) {
        case 0xC0:  // program change
        case 0xD0:  // channel pressure
            return 1;
        case 0xF0:
            if (status == 0xF2) return 2;                    // song position
            if (status == 0xF1 || status == 0xF3) return 1;  // time code, song select
            return 0;
        default:
            return 2;
    }
}

}  // namespace

bool MidiParser::feed(std::uint8_t byte, double time, MidiMessage& out) {
    if (byte >= 0xF8) return false;  // real-time (clock, start, sensing...): may come anywhere
    if (byte == 0xF0) {
        inSysex_ = true;
        status_ = 0;
        return false;
    }
    if (byte & 0x80) {
        // Any other status byte ends an unterminated SysEx and starts a message; system common
        // ones cancel the running status.
        inSysex_ = false;
        const bool nothingFollows = byte >= 0xF0 && dataLength(byte) == 0;  // F6, F7, undefined
        status_ = nothingFollows ? 0 : byte;
        have_ = 0;
        return false;
    }
    if (inSysex_ || status_ == 0) return false;  // SysEx data, or data without a status
    if (have_ == 0 && dataLength(status_) == 2) {
        data_ = byte;
        have_ = 1;
        return false;
    }
    const std::uint8_t status = status_;
    have_ = 0;
    if (status >= 0xF0) {  // a system common message complete: skipped, no running status
        status_ = 0;
        return false;
    }
    out.time = time;
    out.status = status;
    out.data1 = dataLength(status) == 2 ? data_ : byte;
    out.data2 = dataLength(status) == 2 ? byte : 0;
    return true;
}

}  // namespace vornik
