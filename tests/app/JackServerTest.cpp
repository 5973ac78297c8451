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
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// jackd on a server name of its own, killed on every way out of the test.
struct Server {
    const std::string name = "vornik-test-" + std::to_string(getpid());
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

// Hears out_1, plays a 1 kHz tone and its negative into in_1/in_2, sends a note-on when asked.
struct Probe {
    jack_client_t* client = nullptr;
    jack_port_t* ports[4] = {};  // hear, left, right, midi
    double rate = 0.0;
    std::uint64_t frame = 0;
    std::vector<float> heard = std::vector<float>(96000);
    std::atomic<std::size_t> heardCount{0};
    std::atomic<bool> listening{false}, sendNote{false};

    static int process(jack_nframes_t n, void* self) {
        auto& p = *static_cast<Probe*>(self);
        float* buffers[3];
        for (int i = 0; i < 3; ++i)
            buffers[i] = static_cast<float*>(jack_port_get_buffer(p.ports[i], n));
        for (jack_nframes_t i = 0; i < n; ++i, ++p.frame) {
            buffers[1][i] = 0.5f * std::sin(2 * std::numbers::pi * 1000 * p.frame / p.rate);
            buffers[2][i] = -buffers[1][i];
        }
        if (p.listening) {
            const std::size_t at = p.heardCount, k = std::min<std::size_t>(n, p.heard.size() - at);
            std::copy_n(buffers[0], k, p.heard.data() + at);
            p.heardCount = at + k;
        }
        void* midi = jack_port_get_buffer(p.ports[3], n);
        jack_midi_clear_buffer(midi);
        const jack_midi_data_t note[] = {0x90, 36, 100};
        if (p.sendNote.exchange(false)) jack_midi_event_write(midi, 10, note, 3);
        return 0;
    }
};

// Notes each message's frame on its way from midi_in to the MIDI layer.
struct Tap final : MidiEventSink {
    MidiEventSink& next;
    std::atomic<int> count{0};
    std::uint64_t frame = 0;
    explicit Tap(MidiEventSink& to) : next(to) {}
    void midiEvent(const std::uint8_t* bytes, std::size_t size, std::uint64_t at,
                   double seconds) noexcept override {
        if (count++ == 0) frame = at;
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
    // A note on midi_in wakes the main thread and keeps its frame; the sample's 441 Hz arrives.
    probe.sendNote = true;
    ASSERT_TRUE(waitUntil([&] { return woken.load(); }));
    EXPECT_EQ(input.drain(), 1u);
    EXPECT_EQ(m.activePlayheads(), 1);
    EXPECT_NEAR(std::lround(tap.frame * rate / 48000.0) % period, 10, 1);
    probe.listening = true;
    ASSERT_TRUE(waitUntil([&] { return probe.heardCount >= 0.5 * rate; }));
    const std::vector<float> heard(probe.heard.begin() + static_cast<long>(0.1 * rate),
                                   probe.heard.begin() + static_cast<long>(0.5 * rate));
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
    if (countsMalloc()) EXPECT_EQ(counted.locks, 0u);

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
