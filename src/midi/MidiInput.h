#pragma once
// The MIDI layer's front door on the main thread: the queues the sources fill, one parser per
// stream, and the performer they feed. The main loop drains it when a source wakes it.
// Thread: main, unless a call says otherwise.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "midi/MidiParser.h"
#include "midi/MidiPerformer.h"
#include "midi/MidiQueue.h"

namespace vornik {

class MidiInput {
public:
    explicit MidiInput(MidiPerformer& performer) : performer_(performer) {}
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    // A queue for one producing thread, alive as long as this input; its stream has a parser of
    // its own. `wake` as MidiQueue says. Add sources before their threads start.
    MidiQueue& addSource(std::function<bool()> wake = {});

    // Every packet queued so far, in order per source, through its parser to the performer.
    // Returns the number of messages handled.
    std::size_t drain();

    // Bytes that arrive on the main thread itself (a script), on a stream of their own.
    void feed(const std::uint8_t* bytes, std::size_t size, double time);

    MidiPerformer& performer() { return performer_; }

private:
    struct Source {
        MidiQueue queue;
        MidiParser parser;
        explicit Source(std::function<bool()> wake) : queue(std::move(wake)) {}
    };
    MidiPerformer& performer_;
    std::vector<std::unique_ptr<Source>> sources_;
    MidiParser direct_;
};

}  // namespace vornik
