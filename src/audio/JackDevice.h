#pragma once
// The instrument as a client of a JACK server (jackd, or PipeWire's JACK): audio outputs out_1
// and out_2, a MIDI input midi_in and audio inputs in_1 and in_2 for recording. Never starts a
// server. The graph renders at 48 kHz; at another server rate the output is converted with a
// fixed ratio, and the inputs are converted to the 44.1 kHz of a take. Server events (the server
// gone or the client kicked, a new period or rate, an xrun) are only noted on JACK's threads and
// collected by the main thread with takeEvents().

#include <jack/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/AudioGraph.h"
#include "audio/MidiEventSink.h"
#include "audio/OutputDevice.h"
#include "audio/RateConverter.h"
#include "sample/CaptureSource.h"

namespace vornik {

struct JackSettings {
    std::string clientName = "vornik";
    // At open: out_1/out_2 to the first two physical playback ports, the first two physical
    // capture ports to in_1/in_2.
    bool connect = true;
    // No log line when no server is running (the automatic choice logs its own).
    bool quietWithoutServer = false;
};

class JackDevice final : public OutputDevice {
public:
    // A MIDI message is due this long after the period that follows its arrival: the main
    // thread's time to start its voice (5.3 ms at 48 kHz). A note handled later plays at once.
    static constexpr int kMidiLeadFrames = 256;

    JackDevice(AudioGraph& graph, JackSettings options);
    ~JackDevice() override;
    JackDevice(const JackDevice&) = delete;
    JackDevice& operator=(const JackDevice&) = delete;

    // Connects to a running server (never starts one), registers the ports and activates.
    bool open() override;
    // Deactivates and leaves the server (also after the server went away).
    void close() override;
    bool isOpen() const override { return client_ != nullptr; }
    int bufferFrames() const override;
    double sampleRate() const override { return isOpen() ? rate_ : 0.0; }

    // The name the server granted ("vornik", or "vornik-01" when taken). Thread: main.
    const std::string& clientName() const { return name_; }

    // What the server did since the last call. Thread: main.
    struct Events {
        bool serverLost = false;  // the server stopped or kicked this client: close() it
        std::string reason;       // the server's words, when lost
        unsigned xruns = 0;
        int bufferFrames = 0;     // the new period, when it changed
        double sampleRate = 0.0;  // the new rate, when it changed: silent until reopened
    };
    Events takeEvents();

    // Where midi_in's messages go; null for nowhere. Any time: when it returns, the audio thread
    // no longer calls the previous sink. Thread: main.
    void setMidiSink(MidiEventSink* sink);

    // A source for the recorder on in_1/in_2, at 44.1 kHz: it delivers while this device is
    // open, and fails to start (logged) once the device closed or is gone. Thread: main.
    std::unique_ptr<CaptureSource> makeCaptureSource();

    // The process callback's time as a share of the period, since the last call: the mean
    // over all periods and the largest. Thread: any.
    struct Load {
        double mean = 0.0;
        double peak = 0.0;
        std::uint64_t periods = 0;
    };
    Load takeLoad();

    struct CaptureLink;

private:
    static int process(jack_nframes_t frames, void* self);
    static void serverShutdown(jack_status_t code, const char* reason, void* self);
    static int xrun(void* self);
    static int bufferSizeChanged(jack_nframes_t frames, void* self);
    static int sampleRateChanged(jack_nframes_t rate, void* self);
    void readMidi(MidiEventSink& sink, jack_nframes_t frames, double seconds) noexcept;
    void capture(jack_nframes_t frames) noexcept;
    void connectPorts();

    AudioGraph& graph_;
    JackSettings options_;
    std::string name_;
    jack_client_t* client_ = nullptr;
    jack_port_t* out_[2] = {};
    jack_port_t* in_[2] = {};
    jack_port_t* midiIn_ = nullptr;
    std::atomic<MidiEventSink*> midiSink_{nullptr};
    std::atomic<bool> midiBusy_{false};  // the audio thread is inside the sink
    double rate_ = 0.0;
    OutputRateConverter output_;
    CaptureRateConverter input_;
    std::shared_ptr<CaptureLink> link_;
    std::uint64_t framesDone_ = 0;  // server frames processed since open; the audio thread's
    std::uint64_t graphOrigin_ = 0;  // the graph's frame clock at open

    // Noted on JACK's threads, collected by takeEvents().
    std::atomic<bool> lost_{false};
    jack_status_t lostCode_{};
    char lostReason_[256] = {};
    std::atomic<unsigned> xruns_{0};
    std::atomic<int> periodNow_{0};
    std::atomic<std::uint32_t> rateNow_{0};
    int periodReported_ = 0;
    std::uint32_t rateReported_ = 0;

    std::atomic<std::uint64_t> busyNanos_{0};
    std::atomic<std::uint64_t> periodNanos_{0};
    std::atomic<std::uint64_t> peakPpm_{0};  // parts per million of a period
    std::atomic<std::uint64_t> periods_{0};
};

}  // namespace vornik
