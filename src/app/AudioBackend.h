#pragma once
// The program's sound output: JACK or SDL audio, chosen at start (--audio), put under the
// instrument's graph, and watched while it runs. On JACK the recorder takes in_1/in_2; a JACK
// server that goes away (or drops the client) is replaced by SDL audio with the sample and every
// setting kept; xruns and a new period or rate are logged and shown in the status line.
// Thread: main, for every call here.

#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "audio/JackDevice.h"
#include "base/RunLoop.h"

namespace vornik {

class MainView;

class AudioBackend {
public:
    static constexpr double kPollSeconds = 0.05;      // how often the server's events are read
    static constexpr double kXrunReportSeconds = 10;  // one xrun message at most this often

    AudioBackend(RunLoop& runLoop, const ApplicationOptions& options);
    ~AudioBackend();
    AudioBackend(const AudioBackend&) = delete;
    AudioBackend& operator=(const AudioBackend&) = delete;

    // Opens the chosen output on `view`'s prepared graph and starts watching it. `view` must
    // outlive this object or be followed by stop(). Auto: JACK when a server runs, else SDL;
    // jack: JACK, else SDL with a message.
    void start(MainView& view);
    // Forgets the view (it is going away).
    void stop();
    // Reads the server's events and acts on them; the run loop calls it every kPollSeconds.
    void poll();

    // The JACK device while the instrument plays through it, else null.
    JackDevice* jack() const { return jack_; }
    // Where midi_in's messages go, now and on every JACK client opened later; null for nowhere.
    // When it returns, the previous sink is no longer called.
    void setMidiSink(MidiEventSink* sink);

private:
    bool openJack(bool quiet);
    void useSdl(const std::string& why);
    void schedulePoll();

    RunLoop& runLoop_;
    AudioChoice choice_;
    int sdlBufferFrames_;
    JackSettings jackSettings_;
    MidiEventSink* midiSink_ = nullptr;
    MainView* view_ = nullptr;
    JackDevice* jack_ = nullptr;       // owned by the view
    bool sdlRecorderPending_ = false;  // the SDL input takes over once the take ends
    unsigned xrunsUnshown_ = 0;
    double lastXrunShown_ = -1e9;
    std::shared_ptr<Timer> pollTimer_;
};

}  // namespace vornik
