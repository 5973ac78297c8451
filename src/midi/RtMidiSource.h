#pragma once
// The one class that talks to the MIDI system: RtMidi's input on the ALSA sequencer, opened as a
// virtual port that other programs and the desktop's patchbay can connect to, and the sequencer's
// subscriptions that connect the chosen hardware sources to it (RtMidi connects a port to one
// source at most). Its callback thread only queues what arrives.
// Thread: main, for every call here.

#include <memory>
#include <string>
#include <vector>

namespace vornik {

class MidiQueue;

class RtMidiSource {
public:
    static constexpr const char* kPortName = "Vornik";
    static constexpr const char* kSequencerDevice = "/dev/snd/seq";
    // How often sources plugged in later are looked for (the host's timer).
    static constexpr double kRescanSeconds = 2.0;

    // Opens the port `portName` feeding `queue` and connects the sources `choice` names: "all"
    // every hardware source, anything else the sources whose name contains it (any case). Null,
    // with one log line, when there is no MIDI system or it refuses; nothing throws.
    static std::unique_ptr<RtMidiSource> open(MidiQueue& queue, const std::string& choice,
                                              const std::string& portName = kPortName);
    ~RtMidiSource();
    RtMidiSource(const RtMidiSource&) = delete;
    RtMidiSource& operator=(const RtMidiSource&) = delete;

    // Connects the chosen sources not connected yet (present at start, or plugged in since);
    // returns their names. Sources that went away are forgotten, so they connect again.
    std::vector<std::string> connectNewSources();

    // Whether a source name is chosen by `choice` ("all" takes hardware sources only).
    static bool chooses(const std::string& choice, const std::string& sourceName, bool hardware);

    struct Impl;

private:
    explicit RtMidiSource(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vornik
