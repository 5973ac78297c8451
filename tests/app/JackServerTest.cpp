// The instrument on a real JACK server (jackd's dummy driver, started here and stopped by its
// PID): its ports, its sound heard by a client of the test's own, a note on midi_in with its frame,
// a take recorded from in_1/in_2, and SDL audio once the server is gone. Skipped without jackd.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <numbers>
#include <thread>

#include "app/AudioBackend.h"
#include "app/MainLoopWaker.h"
#include "audio/AudioTestSupport.h"
#include "base/Status.h"
#include "support/LogLines.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;
using namespace std::chrono_literals;

namespace {

bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        if (access((dirs.substr(at, end - at) + "/" + program).c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

// jackd on a server name of its own, killed on every way out of the test.
struct Server {
    pid_t pid = 0;
    Server(int rate, int period) {
        const std::string name = "vornik-test-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        pid = fork();
        if (pid == 0) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            const std::string r = std::to_string(rate), p = std::to_string(period);
            execlp("jackd", "jackd", "-n", name.c_str(), "--no-realtime", "-d", "dummy", "-r",
                   r.c_str(), "-p", p.c_str(), nullptr);
            _exit(127);
        }
    }
    jack_client_t* connect(const char* client) const {  // once the server answers, within 5 s
        jack_set_error_function([](const char*) {});    // "cannot connect" until it does
        for (auto until = std::chrono::steady_clock::now() + 5s;
             std::chrono::steady_clock::now() < until;) {
            if (jack_client_t* c = jack_client_open(client, JackNoStartServer, nullptr)) return c;
            std::this_thread::sleep_for(50ms);
        }
        return nullptr;
    }
    void stop(int signal = SIGTERM) {
        if (pid <= 0) return;
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
        pid = 0;
    }
    ~Server() {
        stop(SIGKILL);
        unsetenv("JACK_DEFAULT_SERVER");
    }
};

// The test's own client: hears out_1, plays a 1 kHz tone (and its negative) into in_1/in_2 and
// sends one note-on into midi_in, 10 frames into a period, when asked.
struct Probe {
    jack_client_t* client = nullptr;
    jack_port_t *hear = nullptr, *toneL = nullptr, *toneR = nullptr, *midi = nullptr;
    double rate = 0.0;
    std::uint64_t frame = 0;
    std::vector<float> heard = std::vector<float>(96000);
    std::atomic<std::size_t> heardCount{0};
    std::atomic<bool> listening{false}, sendNote{false};

    static int process(jack_nframes_t n, void* self) {
        auto& p = *static_cast<Probe*>(self);
        const auto* in = static_cast<const float*>(jack_port_get_buffer(p.hear, n));
        auto* l = static_cast<float*>(jack_port_get_buffer(p.toneL, n));
        auto* r = static_cast<float*>(jack_port_get_buffer(p.toneR, n));
        for (jack_nframes_t i = 0; i < n; ++i, ++p.frame) {
            l[i] =
                0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000 * p.frame / p.rate));
            r[i] = -l[i];
        }
        if (p.listening) {
            const std::size_t at = p.heardCount, k = std::min<std::size_t>(n, p.heard.size() - at);
            std::copy_n(in, k, p.heard.data() + at);
            p.heardCount = at + k;
        }
        void* midi = jack_port_get_buffer(p.midi, n);
        jack_midi_clear_buffer(midi);
        const jack_midi_data_t note[] = {0x90, 36, 100};
        if (p.sendNote.exchange(false)) jack_midi_event_write(midi, 10, note, 3);
        return 0;
    }
};

struct Notes final : MidiEventSink {
    std::atomic<int> count{0};
    std::uint8_t first[3] = {};
    std::uint64_t frame = 0;
    void midiEvent(const std::uint8_t* bytes, std::size_t size, std::uint64_t at,
                   double) noexcept override {
        if (count == 0 && size == 3) {
            std::copy_n(bytes, 3, first);
            frame = at;
        }
        ++count;
    }
};

// The mixer as the graph's source, counting the JACK thread's allocations and locks from its
// first block on: every later period is counted whole.
struct CountedSource {
    MainView* view = nullptr;
    std::atomic<std::size_t> allocations{0}, locks{0};
    void renderAudio(float* left, float* right, int frames) {
        const RealtimeCounts c = countThisThread();
        allocations = c.allocations;
        locks = c.locks;
        view->renderAudio(left, right, frames);
    }
};

template <class Done>
bool waitUntil(Done done, std::chrono::milliseconds limit = 3000ms) {
    for (auto until = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void playOnServer(int rate, int period, bool connect) {
    Server server(rate, period);
    Probe probe;
    probe.rate = rate;
    probe.client = server.connect("probe");
    ASSERT_NE(probe.client, nullptr) << "jackd did not start";

    View v;
    MainView& m = v.view;
    std::vector<float> tone(88200);  // 441 Hz
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.8f * std::sin(2 * std::numbers::pi * i / 100);
    m.mixer().sample().publish(snapshotOf(tone, {}, 44100.0));
    CountedSource counted{&m};
    m.audioGraph().setSource(counted);
    ApplicationOptions options;
    options.audio = AudioChoice::Jack;
    options.clientName = "vornik-test";
    options.connect = connect;
    AudioBackend backend(v.loop, options);
    Notes notes;
    backend.setMidiSink(&notes);
    backend.start(m);
    ASSERT_NE(backend.jack(), nullptr);
    EXPECT_EQ(m.audioDevice()->sampleRate(), rate);

    // The ports, as any JACK client sees them.
    const struct {
        const char* name;
        const char* type;
        unsigned long flags;
    } ports[] = {{"vornik-test:out_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput},
                 {"vornik-test:out_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput},
                 {"vornik-test:in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput},
                 {"vornik-test:in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput},
                 {"vornik-test:midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput}};
    for (const auto& p : ports) {
        jack_port_t* port = jack_port_by_name(probe.client, p.name);
        ASSERT_NE(port, nullptr) << p.name;
        EXPECT_STREQ(jack_port_type(port), p.type);
        EXPECT_TRUE(jack_port_flags(port) & p.flags) << p.name;
    }
    probe.hear =
        jack_port_register(probe.client, "hear", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    probe.toneL =
        jack_port_register(probe.client, "l", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    probe.toneR =
        jack_port_register(probe.client, "r", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    probe.midi =
        jack_port_register(probe.client, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(probe.client, &Probe::process, &probe);
    ASSERT_EQ(jack_activate(probe.client), 0);
    for (auto [from, to] : {std::pair{"vornik-test:out_1", "probe:hear"},
                            {"probe:l", "vornik-test:in_1"},
                            {"probe:r", "vornik-test:in_2"},
                            {"probe:midi", "vornik-test:midi_in"}}) {
        ASSERT_EQ(jack_connect(probe.client, from, to), 0) << from;
    }

    // A note on midi_in arrives with its frame: 10 frames into its period.
    probe.sendNote = true;
    ASSERT_TRUE(waitUntil([&] { return notes.count > 0; }));
    EXPECT_EQ(notes.first[0], 0x90);
    EXPECT_EQ(notes.first[1], 36);
    const auto serverFrame = static_cast<long>(std::lround(notes.frame * rate / 48000.0));
    EXPECT_NEAR(serverFrame % period, 10, 1);
    // Connections show in a client's view of the graph a period or two after they are made.
    EXPECT_EQ(jack_port_connected_to(jack_port_by_name(probe.client, "vornik-test:out_1"),
                                     "system:playback_1"),
              connect ? 1 : 0);
    // It plays the slice; what arrives is the sample's 441 Hz at its level.
    probe.listening = true;
    m.playSlice(0, 88200, 0.8f, 1);
    ASSERT_TRUE(
        waitUntil([&] { return probe.heardCount >= static_cast<std::size_t>(0.5 * rate); }));
    std::vector<float> heard(probe.heard.begin() + static_cast<long>(0.1 * rate),
                             probe.heard.begin() + static_cast<long>(0.5 * rate));
    EXPECT_NEAR(toneFrequency(heard, rate), 441.0, 1.0);
    EXPECT_NEAR(rms(heard), 0.64 / std::sqrt(2.0), 0.05);

    // A take from in_1/in_2, at 44.1 kHz whatever the server's rate.
    std::string dir = (std::filesystem::temp_directory_path() / "vornik-jack-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    {
        Recorder recorder(dir, backend.jack()->makeCaptureSource());
        ASSERT_TRUE(recorder.record());
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(recorder.stop());
    }
    SF_INFO info{};
    SNDFILE* file = sf_open((dir + "/recording.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> take(static_cast<std::size_t>(2 * info.frames));
    sf_readf_float(file, take.data(), info.frames);
    sf_close(file);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_NEAR(toneFrequency(take, 44100.0, 2), 1000.0, 1.0);
    EXPECT_NEAR(take[2 * 1000 + 1], -take[2 * 1000], 1e-3);

    EXPECT_EQ(counted.allocations, 0u);
    if (countsMalloc()) EXPECT_EQ(counted.locks, 0u);

    // The server goes: SDL audio takes over, the sample stays.
    jack_client_close(probe.client);
    std::vector<std::string> shown;
    StatusSink status([&](const std::string& text, StatusKind) { shown.push_back(text); });
    LogLines log;
    server.stop();
    ASSERT_TRUE(waitUntil([&] {
        backend.poll();
        return backend.jack() == nullptr;
    }));
    EXPECT_TRUE(m.audioDeviceOpen());
    EXPECT_EQ(m.audioDevice()->sampleRate(), 48000.0);
    EXPECT_EQ(m.fileBufferLength(), 88200u);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "JACK server gone: playing through SDL audio");
}

}  // namespace

TEST(JackServer, PlaysRecordsAndTakesMidiAt48000And44100) {
    if (!onPath("jackd")) GTEST_SKIP() << "jackd is not installed";
    playOnServer(48000, 64, true);
    playOnServer(44100, 256, false);
}

TEST(JackServer, WithoutAServerSdlAudioPlaysAndOnlyAnAskedForJackIsMissed) {
    setenv("JACK_DEFAULT_SERVER", "vornik-test-none", 1);
    for (const AudioChoice choice : {AudioChoice::Auto, AudioChoice::Jack}) {
        View v;
        std::vector<std::string> shown;
        StatusSink status([&](const std::string& text, StatusKind) { shown.push_back(text); });
        LogLines log;
        ApplicationOptions options;
        options.audio = choice;
        AudioBackend backend(v.loop, options);
        backend.start(v.view);
        EXPECT_EQ(backend.jack(), nullptr);
        ASSERT_TRUE(v.view.audioDeviceOpen());
        EXPECT_EQ(v.view.audioDevice()->sampleRate(), 48000.0);
        EXPECT_EQ(shown, choice == AudioChoice::Jack
                             ? std::vector<std::string>{"No JACK server: playing through SDL audio"}
                             : std::vector<std::string>{});
        EXPECT_EQ(log.lines.size(), 2u);  // why not JACK, and the SDL output opened
    }
    unsetenv("JACK_DEFAULT_SERVER");
}

TEST(JackServer, TheAudioThreadWakesTheMainLoopWithoutAllocatingOrLocking) {
    std::atomic<int> notified{0};
    MainLoopWaker waker([&] { ++notified; });
    RealtimeCounts counts;
    std::thread audio([&] {
        RealtimeScope scope;
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(waker.wake());
            std::this_thread::sleep_for(20ms);
        }
        counts = scope.counts();
    });
    audio.join();
    expectRealtime(counts);
    EXPECT_TRUE(waitUntil([&] { return notified == 3; }));
}
