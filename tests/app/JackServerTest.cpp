// The instrument on a jackd (dummy driver) started here and stopped by its PID. Skipped without
// jackd.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <numbers>
#include <thread>

#include "app/AudioBackend.h"
#include "app/JackMidiBridge.h"
#include "audio/AudioTestSupport.h"
#include "base/Status.h"
#include "sample/AudioFileReader.h"
#include "support/SampleFixtures.h"
#include "support/ScopedEnv.h"

using namespace vornik;
using namespace vornik::test;
using namespace std::chrono_literals;

namespace {

template <class Done>
bool waitUntil(Done done, std::chrono::milliseconds limit = 5000ms) {
    for (auto until = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// jackd on a server name of the tests' own, killed on every way out of the test. One name, so that
// the slot of a server that died without leaving (JACK keeps eight) is taken back by the next.
struct Server {
    const std::string name = "vornik-test";
    ScopedEnv named{"JACK_DEFAULT_SERVER", name};  // the one clients look for
    pid_t pid = 0;
    Server(int rate, int period) {
        const std::string r = std::to_string(rate), p = std::to_string(period);
        if ((pid = fork()) == 0) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execlp("jackd", "jackd", "-n", name.c_str(), "--no-realtime", "-d", "dummy", "-r",
                   r.c_str(), "-p", p.c_str(), nullptr);
            _exit(127);
        }
    }
    void stop(int signal = SIGTERM) {
        if (pid > 0) kill(pid, signal), waitpid(pid, nullptr, 0);
        pid = 0;
    }
    ~Server() { stop(SIGKILL); }
};

// Hears out_1 from its first period on, plays a 1 kHz tone and its negative into in_1/in_2,
// and sends a note-on at a frame of a period when asked.
struct Probe {
    jack_client_t* client = nullptr;
    jack_port_t* ports[4] = {};  // hear, left, right, midi
    double rate = 0.0;
    std::vector<float> heard = std::vector<float>(10 * 48000);
    std::atomic<std::size_t> frame{0};  // heard so far
    std::atomic<int> note{0}, offset{0};
    std::atomic<std::size_t> sentAt{0};

    void send(int key, int at) {
        offset = at;
        note = key;
    }

    static int process(jack_nframes_t n, void* self) {
        auto& p = *static_cast<Probe*>(self);
        float* buffers[3];
        for (int i = 0; i < 3; ++i)
            buffers[i] = static_cast<float*>(jack_port_get_buffer(p.ports[i], n));
        const std::size_t start = p.frame;
        for (jack_nframes_t i = 0; i < n; ++i) {
            buffers[1][i] = 0.5f * std::sin(2 * std::numbers::pi * 1000 * (start + i) / p.rate);
            buffers[2][i] = -buffers[1][i];
            if (start + i < p.heard.size()) p.heard[start + i] = buffers[0][i];
        }
        void* midi = jack_port_get_buffer(p.ports[3], n);
        jack_midi_clear_buffer(midi);
        if (const int key = p.note.exchange(0); key != 0) {
            const jack_midi_data_t on[] = {0x90, static_cast<jack_midi_data_t>(key), 100};
            jack_midi_event_write(midi, static_cast<jack_nframes_t>(p.offset), on, 3);
            p.sentAt = start + static_cast<std::size_t>(p.offset);
        }
        p.frame = start + n;
        return 0;
    }
};

// Counts the messages on their way from midi_in to the MIDI layer.
struct Tap final : MidiEventSink {
    MidiEventSink& next;
    std::atomic<int> count{0};
    explicit Tap(MidiEventSink& to) : next(to) {}
    void midiEvent(const std::uint8_t* bytes, std::size_t size, std::uint64_t at,
                   double seconds) noexcept override {
        ++count;
        next.midiEvent(bytes, size, at, seconds);
    }
};

// The mixer as the graph's source, counting on the JACK thread from its first block on.
struct CountedSource {
    MainView* view = nullptr;
    std::atomic<std::size_t> allocations{0}, locks{0};
    void renderAudio(float* left, float* right, int frames) {
        const RealtimeCounts c = countThisThread();
        allocations = c.allocations, locks = c.locks;
        view->renderAudio(left, right, frames);
    }
};

void playOnServer(int rate, int period, AudioChoice choice, bool connect) {
    Server server(rate, period);
    Probe probe;
    probe.rate = rate;
    jack_set_error_function([](const char*) {});
    ASSERT_TRUE(waitUntil([&] {
        return (probe.client = jack_client_open("probe", JackNoStartServer, nullptr)) != nullptr;
    })) << "jackd did not start";

    View v;
    MainView& m = v.view;
    std::vector<float> tone(88200);  // 441 Hz at 44.1 kHz
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.8f * std::sin(std::numbers::pi * i / 50);
    m.mixer().sample().publish(snapshotOf(tone, {}, 44100.0));
    CountedSource counted{&m};
    m.audioGraph().setSource(counted);
    ApplicationOptions options;
    options.audio = choice;
    options.clientName = "vornik-test";
    options.connect = connect;
    AudioBackend backend(v.loop, options);
    MidiMap map;
    MidiPerformer performer(map);
    MidiInput input(performer);
    performer.setInstrument(&m);
    m.setTouchBarSize({1000.0, 30.0});
    m.setNumSlices(0);  // note 36: the 16th of the strip on, to the end
    std::atomic<bool> woken{false};
    JackMidiBridge bridge(input, [&] { woken = true; });
    Tap tap(bridge);
    backend.setMidiSink(&tap);
    backend.start(m);
    ASSERT_NE(backend.jack(), nullptr);
    EXPECT_EQ(m.audioDevice()->sampleRate(), rate);

    const struct {
        const char *ours, *type, *probes;
        unsigned long flags;
    } ports[] = {{"out_1", JACK_DEFAULT_AUDIO_TYPE, "hear", JackPortIsOutput},
                 {"in_1", JACK_DEFAULT_AUDIO_TYPE, "left", JackPortIsInput},
                 {"in_2", JACK_DEFAULT_AUDIO_TYPE, "right", JackPortIsInput},
                 {"midi_in", JACK_DEFAULT_MIDI_TYPE, "midi", JackPortIsInput},
                 {"out_2", JACK_DEFAULT_AUDIO_TYPE, nullptr, JackPortIsOutput}};
    for (int i = 0; i < 4; ++i) {
        const unsigned long flags =
            ports[i].flags == JackPortIsOutput ? JackPortIsInput : JackPortIsOutput;
        probe.ports[i] = jack_port_register(probe.client, ports[i].probes, ports[i].type, flags, 0);
    }
    jack_set_process_callback(probe.client, &Probe::process, &probe);
    ASSERT_EQ(jack_activate(probe.client), 0);
    for (const auto& p : ports) {
        const std::string ours = std::string("vornik-test:") + p.ours;
        jack_port_t* port = jack_port_by_name(probe.client, ours.c_str());
        ASSERT_NE(port, nullptr) << ours;
        EXPECT_STREQ(jack_port_type(port), p.type);
        EXPECT_TRUE(jack_port_flags(port) & p.flags) << ours;
        if (!p.probes) continue;
        const std::string theirs = std::string("probe:") + p.probes;
        const bool out = p.flags == JackPortIsOutput;
        EXPECT_EQ(jack_connect(probe.client, (out ? ours : theirs).c_str(),
                               (out ? theirs : ours).c_str()),
                  0);
    }

    ASSERT_TRUE(waitUntil([&] { return jack_port_connected(probe.ports[3]) > 0; }));
    EXPECT_EQ(jack_port_connected_to(jack_port_by_name(probe.client, "vornik-test:out_1"),
                                     "system:playback_1"),
              connect ? 1 : 0);
    // A note on midi_in wakes the main thread; its voice waits for the note's frame, so the
    // sound follows the note by the same number of frames wherever in a period it came. Note 51
    // plays the last 16th of the sample (62 ms), in silence before and after.
    auto latency = [&](int offset) -> long {
        const int before = tap.count;
        woken = false;
        probe.send(51, offset);
        if (!waitUntil([&] { return woken.load(); }, 2000ms)) return -1;
        input.drain();
        const Playhead* voice = nullptr;
        for (const Playhead& p : m.playheads()) {
            if (p.active() && (!voice || p.generation() > voice->generation())) voice = &p;
        }
        // A busy machine may hand the note over too late to keep its time: not what is tested.
        if (!voice || voice->startFrame() <= m.mixer().frameClock() || tap.count != before + 1) {
            return -2;
        }
        const std::size_t from = probe.sentAt;
        if (!waitUntil([&] { return probe.frame > from + rate / 5; })) return -1;
        for (std::size_t i = from; i < from + rate / 5; ++i) {
            if (std::fabs(probe.heard[i]) > 1e-3f) return static_cast<long>(i - from);
        }
        return -3;
    };
    long early = -2, late = -2;
    for (int attempt = 0; attempt < 4 && (early == -2 || late == -2); ++attempt) {
        early = latency(3);
        std::this_thread::sleep_for(150ms);
        late = latency(period - 5);
        std::this_thread::sleep_for(150ms);
    }
    ASSERT_GT(early, 0);
    EXPECT_NEAR(late, early, rate == 48000 ? 0 : 1);  // 44.1 kHz: the converter's phase
    // One period to arrive, one more and the lead to be started, and the sound's first frames.
    EXPECT_LT(early, 4 * period + JackDevice::kMidiLeadFrames * rate / 48000 + 64);

    // The period doubles: said in the status line, and the next note plays at its pitch.
    std::vector<std::string> said;
    StatusSink sayings([&](const std::string& text, StatusKind) { said.push_back(text); });
    ASSERT_EQ(jack_set_buffer_size(probe.client, static_cast<jack_nframes_t>(2 * period)), 0);
    const std::string newPeriod = "JACK period now " + std::to_string(2 * period) + " frames";
    EXPECT_TRUE(waitUntil([&] {
        backend.poll();
        return std::find(said.begin(), said.end(), newPeriod) != said.end();
    }));

    // A long note: the sample's 441 Hz arrives, at its level.
    woken = false;
    probe.send(36, 10);
    ASSERT_TRUE(waitUntil([&] { return woken.load(); }));
    input.drain();
    const std::size_t from = probe.frame;
    ASSERT_TRUE(waitUntil([&] { return probe.frame >= from + 0.5 * rate; }));
    const std::vector<float> heard(probe.heard.begin() + static_cast<long>(from + 0.1 * rate),
                                   probe.heard.begin() + static_cast<long>(from + 0.5 * rate));
    EXPECT_NEAR(toneFrequency(heard, rate), 441.0, 1.0);
    EXPECT_NEAR(rms(heard), 0.8 * 0.9 / std::sqrt(2.0), 0.05);

    // A take from in_1/in_2, at 44.1 kHz whatever the server's rate.
    std::string dir = (std::filesystem::temp_directory_path() / "vornik-jack-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    {
        Recorder recorder(dir, backend.jack()->makeCaptureSource());
        ASSERT_TRUE(recorder.record());
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(recorder.stop());
    }
    const DecodedAudio take = decodeAudioFile(dir + "/recording.wav");
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(take.snapshot && take.framesRead > 4000) << take.reason;
    EXPECT_EQ(take.snapshot->sampleRate, 44100.0);
    const std::vector<float> left(take.snapshot->left, take.snapshot->left + take.framesRead);
    EXPECT_NEAR(toneFrequency(left, 44100.0), 1000.0, 1.0);
    EXPECT_NEAR(take.snapshot->right[2000], -left[2000], 1e-3);

    EXPECT_EQ(counted.allocations, 0u);
    if (countsMalloc()) {
        EXPECT_EQ(counted.locks, 0u);
    }

    // The server goes: SDL audio takes over, the sample stays.
    jack_client_close(probe.client);
    std::vector<std::string> shown;
    StatusSink status([&](const std::string& text, StatusKind) { shown.push_back(text); });
    server.stop();
    ASSERT_TRUE(waitUntil([&] { return backend.poll(), backend.jack() == nullptr; }));
    EXPECT_TRUE(m.audioDeviceOpen());
    EXPECT_EQ(m.audioDevice()->sampleRate(), 48000.0);
    EXPECT_EQ(m.fileBufferLength(), 88200u);
    ASSERT_FALSE(shown.empty());  // after any xruns of a busy machine
    EXPECT_EQ(shown.back(), "JACK server gone: playing through SDL audio");
}

}  // namespace

TEST(JackServer, PlaysRecordsAndTakesMidiAt48000And44100) {
    if (std::system("command -v jackd > /dev/null") != 0) GTEST_SKIP() << "no jackd";
    playOnServer(48000, 64, AudioChoice::Auto, true);
    playOnServer(44100, 256, AudioChoice::Jack, false);
}

TEST(JackServer, WithoutAServerAskedForJackSaysSoAndPlaysThroughSdl) {
    ScopedEnv none("JACK_DEFAULT_SERVER", "vornik-test-none");
    View v;
    std::vector<std::string> shown;
    StatusSink status([&](const std::string& text, StatusKind) { shown.push_back(text); });
    ApplicationOptions options;
    options.audio = AudioChoice::Jack;
    AudioBackend backend(v.loop, options);
    backend.start(v.view);
    EXPECT_EQ(backend.jack(), nullptr);
    EXPECT_TRUE(v.view.audioDeviceOpen());
    EXPECT_EQ(shown, std::vector<std::string>{"No JACK server: playing through SDL audio"});
}
