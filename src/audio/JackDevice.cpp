#include "audio/JackDevice.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "audio/Denormals.h"
#include "base/Constants.h"
#include "base/Log.h"

namespace vornik {

struct JackDevice::CaptureLink {
    std::atomic<CaptureSink*> sink{nullptr};
    std::atomic<bool> busy{false};   // the audio thread is inside the sink
    std::atomic<bool> fresh{false};  // a new take: the converter forgets the last one's tail
    std::atomic<bool> open{false};
};

namespace {

const char* const kPortNames[] = {"out_1", "out_2", "in_1", "in_2", "midi_in"};

// libjack reports through these; its words reach the log from the main thread only (a message
// on JACK's own threads is dropped: they may be real-time). Its chatter while connecting (and
// after the server went away) is dropped too: one line of ours says it.
std::thread::id gMainThread;
thread_local bool tQuiet = false;

void jackMessage(const char* text) {
    if (!tQuiet && std::this_thread::get_id() == gMainThread) logf("JACK: %s", text);
}

void jackInfo(const char*) {}

std::uint64_t nowNanos() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::string statusText(jack_status_t status) {
    if (status & JackServerFailed) return "no JACK server is running";
    if (status & JackVersionError) return "the JACK server speaks another protocol version";
    if (status & JackShmFailure) return "no shared memory with the JACK server";
    if (status & JackNameNotUnique) return "the client name is taken";
    if (status & JackInvalidOption) return "the JACK server refused the options";
    char text[64];
    std::snprintf(text, sizeof text, "JACK status 0x%x", static_cast<unsigned>(status));
    return text;
}

class JackCaptureSource final : public CaptureSource {
public:
    explicit JackCaptureSource(std::shared_ptr<JackDevice::CaptureLink> link)
        : link_(std::move(link)) {}
    ~JackCaptureSource() override { stop(); }

    bool start(CaptureSink& sink) override {
        stop();
        if (!link_->open.load()) {
            logLine("recording: the JACK server is gone, so in_1 and in_2 record nothing");
            return false;
        }
        link_->fresh.store(true);
        link_->sink.store(&sink);
        return true;
    }

    void stop() override {
        if (link_->sink.exchange(nullptr) == nullptr) return;
        // At most the rest of one period: the audio thread leaves the sink and never re-enters.
        while (link_->busy.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

private:
    std::shared_ptr<JackDevice::CaptureLink> link_;
};

}  // namespace

JackDevice::JackDevice(AudioGraph& graph, JackSettings options)
    : graph_(graph), options_(std::move(options)), link_(std::make_shared<CaptureLink>()) {}

JackDevice::~JackDevice() { close(); }

int JackDevice::bufferFrames() const { return isOpen() ? periodNow_.load() : 0; }

bool JackDevice::open() {
    if (isOpen()) return true;
    gMainThread = std::this_thread::get_id();
    jack_set_error_function(&jackMessage);
    jack_set_info_function(&jackInfo);
    jack_status_t status{};
    tQuiet = true;  // its failure is told below in one line
    client_ = jack_client_open(options_.clientName.c_str(), JackNoStartServer, &status);
    tQuiet = false;
    if (client_ == nullptr) {
        if (!(options_.quietWithoutServer && (status & JackServerFailed))) {
            logf("no JACK output: %s", statusText(status).c_str());
        }
        return false;
    }
    name_ = jack_get_client_name(client_);
    rate_ = jack_get_sample_rate(client_);
    lost_.store(false);
    xruns_.store(0);
    periodNow_.store(static_cast<int>(jack_get_buffer_size(client_)));
    rateNow_.store(static_cast<std::uint32_t>(rate_));
    periodReported_ = periodNow_.load();
    rateReported_ = rateNow_.load();
    framesDone_ = 0;
    graphOrigin_ = graph_.framesRendered();

    auto fail = [this](const std::string& why) {
        logf("no JACK output: %s", why.c_str());
        jack_client_close(client_);
        client_ = nullptr;
        return false;
    };
    std::string error;
    if (!output_.prepare(graph_, rate_, &error))
        return fail("output at the server's rate: " + error);
    if (!input_.prepare(rate_, &error)) return fail("input at the server's rate: " + error);
    for (int i = 0; i < 2; ++i) {
        out_[i] = jack_port_register(client_, kPortNames[i], JACK_DEFAULT_AUDIO_TYPE,
                                     JackPortIsOutput, 0);
        in_[i] = jack_port_register(client_, kPortNames[2 + i], JACK_DEFAULT_AUDIO_TYPE,
                                    JackPortIsInput, 0);
    }
    midiIn_ =
        jack_port_register(client_, kPortNames[4], JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!out_[0] || !out_[1] || !in_[0] || !in_[1] || !midiIn_)
        return fail("cannot register ports");
    jack_set_process_callback(client_, &JackDevice::process, this);
    // Named, so that top -H and the benchmarks can tell it from the program's other threads.
    jack_set_thread_init_callback(
        client_, [](void*) { pthread_setname_np(pthread_self(), "vornik-jack"); }, nullptr);
    jack_on_info_shutdown(client_, &JackDevice::serverShutdown, this);
    jack_set_xrun_callback(client_, &JackDevice::xrun, this);
    jack_set_buffer_size_callback(client_, &JackDevice::bufferSizeChanged, this);
    jack_set_sample_rate_callback(client_, &JackDevice::sampleRateChanged, this);
    link_->open.store(true);
    if (jack_activate(client_) != 0) {
        link_->open.store(false);
        return fail("the server did not activate the client");
    }
    logf("audio output: JACK client \"%s\", %.0f Hz%s, %d frames per period", name_.c_str(), rate_,
         output_.converting() ? " (converted from 48000 Hz)" : "", periodNow_.load());
    if (options_.connect) connectPorts();
    return true;
}

void JackDevice::connectPorts() {
    struct Side {
        unsigned long flags;
        jack_port_t* const* ours;
        bool ourOutputs;
        const char* what;
    } sides[] = {{JackPortIsPhysical | JackPortIsInput, out_, true, "playback"},
                 {JackPortIsPhysical | JackPortIsOutput, in_, false, "capture"}};
    for (const Side& side : sides) {
        const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, side.flags);
        if (ports == nullptr || ports[0] == nullptr) {
            logf("JACK: no physical %s ports; connect %s:%s yourself", side.what, name_.c_str(),
                 side.ourOutputs ? "out_1/out_2" : "in_1/in_2");
        } else {
            for (int i = 0; i < 2; ++i) {
                // A mono card: both channels on its one port.
                const char* theirs = ports[i == 1 && ports[1] != nullptr ? 1 : 0];
                const char* mine = jack_port_name(side.ours[i]);
                const int rc = side.ourOutputs ? jack_connect(client_, mine, theirs)
                                               : jack_connect(client_, theirs, mine);
                if (rc != 0 && rc != EEXIST) logf("JACK: cannot connect %s and %s", mine, theirs);
            }
        }
        if (ports) jack_free(ports);
    }
}

void JackDevice::close() {
    if (!isOpen()) return;
    // A lost server has stopped calling us already; deactivating a dead client only fails.
    tQuiet = true;  // a server that is gone or going only makes libjack repeat it
    if (!lost_.load()) jack_deactivate(client_);
    jack_client_close(client_);
    tQuiet = false;
    client_ = nullptr;
    link_->open.store(false);
    for (auto& p : out_) p = nullptr;
    for (auto& p : in_) p = nullptr;
    midiIn_ = nullptr;
}

JackDevice::Events JackDevice::takeEvents() {
    Events e;
    if (!isOpen()) return e;
    if (lost_.load(std::memory_order_acquire)) {
        e.serverLost = true;
        e.reason = lostReason_[0] ? lostReason_ : "no reason given";
        if (lostCode_ & JackClientZombie) e.reason += " (the client was too slow and was dropped)";
    }
    e.xruns = xruns_.exchange(0);
    if (const int period = periodNow_.load(); period != periodReported_) {
        e.bufferFrames = periodReported_ = period;
    }
    if (const std::uint32_t rate = rateNow_.load(); rate != rateReported_) {
        rateReported_ = rate;
        e.sampleRate = rate;
    }
    return e;
}

std::unique_ptr<CaptureSource> JackDevice::makeCaptureSource() {
    return std::make_unique<JackCaptureSource>(link_);
}

void JackDevice::setMidiSink(MidiEventSink* sink) {
    midiSink_.store(sink);
    while (midiBusy_.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

JackDevice::Load JackDevice::takeLoad() {
    Load load;
    const std::uint64_t busy = busyNanos_.exchange(0);
    const std::uint64_t period = periodNanos_.exchange(0);
    load.periods = periods_.exchange(0);
    load.peak = static_cast<double>(peakPpm_.exchange(0)) * 1e-6;
    load.mean = period > 0 ? static_cast<double>(busy) / static_cast<double>(period) : 0.0;
    return load;
}

// --- JACK's threads -----------------------------------------------------------------------------

int JackDevice::process(jack_nframes_t frames, void* self) {
    auto& d = *static_cast<JackDevice*>(self);
    const std::uint64_t start = nowNanos();
    ScopedDenormalFlush flush;
    d.midiBusy_.store(true);  // before the sink is read: setMidiSink sees one or the other
    if (MidiEventSink* sink = d.midiSink_.load()) {
        d.readMidi(*sink, frames, static_cast<double>(start) * 1e-9);
    }
    d.midiBusy_.store(false);
    auto* left = static_cast<float*>(jack_port_get_buffer(d.out_[0], frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(d.out_[1], frames));
    const int n = static_cast<int>(frames);
    if (d.rateNow_.load(std::memory_order_relaxed) == static_cast<std::uint32_t>(d.rate_)) {
        d.output_.render(left, right, n);
    } else {  // the server changed its rate under us: silence until the main thread reopens
        std::fill_n(left, n, 0.0f);
        std::fill_n(right, n, 0.0f);
    }
    d.capture(frames);
    d.framesDone_ += frames;

    const std::uint64_t busy = nowNanos() - start;
    const auto period = static_cast<std::uint64_t>(1e9 * frames / d.rate_);
    d.busyNanos_.fetch_add(busy, std::memory_order_relaxed);
    d.periodNanos_.fetch_add(period, std::memory_order_relaxed);
    d.periods_.fetch_add(1, std::memory_order_relaxed);
    const std::uint64_t ppm = period > 0 ? busy * 1'000'000 / period : 0;
    if (ppm > d.peakPpm_.load(std::memory_order_relaxed)) {
        d.peakPpm_.store(ppm, std::memory_order_relaxed);  // only this thread raises it
    }
    return 0;
}

void JackDevice::readMidi(MidiEventSink& sink, jack_nframes_t frames, double seconds) noexcept {
    void* buffer = jack_port_get_buffer(midiIn_, frames);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    const auto rate = static_cast<std::uint64_t>(rate_);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0) continue;
        // Server frames map to the graph's linearly (the converter's ratio is fixed).
        const std::uint64_t frame =
            graphOrigin_ +
            (framesDone_ + frames + event.time) * static_cast<std::uint64_t>(kOutputSampleRate) /
                rate +
            kMidiLeadFrames;
        sink.midiEvent(event.buffer, event.size, frame,
                       seconds + static_cast<double>(event.time) / rate_);
    }
}

void JackDevice::capture(jack_nframes_t frames) noexcept {
    CaptureLink& link = *link_;
    link.busy.store(true);  // before the sink is read: stop() sees one or the other
    if (CaptureSink* sink = link.sink.load()) {
        if (link.fresh.exchange(false)) input_.reset();
        input_.process(static_cast<const float*>(jack_port_get_buffer(in_[0], frames)),
                       static_cast<const float*>(jack_port_get_buffer(in_[1], frames)),
                       static_cast<int>(frames), *sink);
    }
    link.busy.store(false);
}

void JackDevice::serverShutdown(jack_status_t code, const char* reason, void* self) {
    // As in a signal handler: copy the words, raise the flag.
    auto& d = *static_cast<JackDevice*>(self);
    d.lostCode_ = code;
    if (reason) {
        std::strncpy(d.lostReason_, reason, sizeof d.lostReason_ - 1);
        d.lostReason_[sizeof d.lostReason_ - 1] = '\0';
    }
    d.link_->open.store(false);
    d.lost_.store(true, std::memory_order_release);
}

int JackDevice::xrun(void* self) {
    static_cast<JackDevice*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int JackDevice::bufferSizeChanged(jack_nframes_t frames, void* self) {
    // Nothing to resize: every buffer here takes any period.
    static_cast<JackDevice*>(self)->periodNow_.store(static_cast<int>(frames));
    return 0;
}

int JackDevice::sampleRateChanged(jack_nframes_t rate, void* self) {
    static_cast<JackDevice*>(self)->rateNow_.store(static_cast<std::uint32_t>(rate));
    return 0;
}

}  // namespace vornik
