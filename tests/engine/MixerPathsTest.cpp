// Every mixer path against a reference rendered by the frame-by-frame scalar mixer
// (tests/data/mixer-scene.bin; VORNIK_UPDATE_GOLDENS=1 rewrites it): a scene crossing every
// per-frame event of the four modes in calls of many sizes, voices steered between calls.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Mixer.h"
#include "support/SampleFixtures.h"

using namespace vornik;

namespace {

// Tolerance of the mix against the reference; positions, envelopes and voice state are exact.
constexpr double kMixTolerance = 1e-6;
constexpr std::size_t kSceneVoices = 16;

struct Recording {
    std::vector<float> mix;      // left and right of every call, one after the other
    std::vector<double> voices;  // every voice's state after every call
};

void start(Playhead& v, int mode, double pos, double from, double to, double rate,
           double envelope = 1.0, float amp = 0.8f) {
    v.setMode(mode);
    v.setFadeOut(false);
    v.setTouchid(7);
    v.setAmp(amp);
    v.setEnvelope(envelope);
    v.setRate(rate);
    v.setPos(pos);
    v.setFrameStart(from);
    v.setFrameEnd(mode == Playhead::kBow ? pos : to);
    v.setLooperPos(0.0);
    v.setLooperCrossfade(Mixer::kLooperIdle);
    v.setBowAmp(0.0);
    v.setBowPos(from - 0.08 * 44100.0);
    v.setActive(true);
}

Recording renderScene(Mixer& m) {
    std::vector<float> l(6000), r(6000);
    for (std::size_t i = 0; i < l.size(); ++i) {
        l[i] = static_cast<float>(0.6 * std::sin(0.031 * i) + 0.2 * std::sin(0.17 * i));
        r[i] = static_cast<float>(0.5 * std::cos(0.023 * i));
    }
    m.sample().publish(test::snapshotOf(l, r, 44100.0));
    auto& p = m.playheads();
    start(p[0], Playhead::kSlicer, 100, 100, 1100, 1.1, 0.0);  // attacks, ends mid-call
    start(p[1], Playhead::kSlicer, 5000, 5000, 1e9, 1.7);      // runs off the sample's end
    start(p[2], Playhead::kSlicer, 2000, 2000, 2300, 0.913);   // end zone, then restarts
    start(p[3], Playhead::kTape, 30, 0, 6000, -1.37);          // backward over frame 0
    start(p[4], Playhead::kTape, 5900, 0, 6000, 2.21);         // forward over the end
    start(p[5], Playhead::kTape, 0, 0, 6000, 0.0);             // standing at 0
    start(p[6], Playhead::kTape, 3000.25, 0, 6000, 0.5);
    p[6].setTouchid(kNoTouch);  // releasing
    start(p[7], Playhead::kTape, 4000, 0, 6000, 1.0);
    p[7].setFadeOut(true);                                   // fast fade
    start(p[8], Playhead::kLooper, 1000, 1000, 1600, 1.05);  // a crossfade every loop
    start(p[9], Playhead::kLooper, 3290, 3000, 3300, 0.77);
    start(p[10], Playhead::kLooper, 200, 200, 700, 1.3, 0.5);
    start(p[11], Playhead::kBow, 3000, 3000, 0, 44100.0 / 48000.0, 0.0);
    start(p[12], Playhead::kBow, 5900, 5900, 0, 1.3);  // heads past the end
    start(p[13], Playhead::kBow, 10, 10, 0, 0.6);      // second head below 0
    p[12].setBowAmp(0.9);                              // hand over early
    p[13].setBowAmp(0.5);
    start(p[14], 4, 10, 0, 100, 1.0);                                  // no mode: plays nothing
    start(p[15], Playhead::kSlicer, 5995, 5990, 6000, 1.0, 1.0, 0.3);  // edges, end zone

    Recording rec;
    const int sizes[] = {1, 2, 61, 64, 64, 100, 7, 64, 300, 64, 513, 64, 64, 1000, 33, 64, 640};
    for (int call = 0; call < static_cast<int>(std::size(sizes)); ++call) {
        switch (call) {
            case 4:  // a finger lifts mid-crossfade, with a short release
                m.setDecay(0.01);
                p[10].setTouchid(kNoTouch);
                break;
            case 6:
                p[9].setFrameStart(3250);  // the loop's start moves past the head
                p[11].setFrameStart(2000);
                m.setAttack(0.02);
                break;
            case 9:
                p[3].setRate(0.77);
                p[6].setFadeOut(true);
                p[8].setFrameEnd(1400);
                break;
            case 12:
                if (!p[0].active()) start(p[0], Playhead::kSlicer, 4000.5, 4000, 4700, 1.5, 0.0);
                if (!p[15].active()) start(p[15], Playhead::kSlicer, 2.5, 0, 400, 3.3, 0.0);
                p[12].setTouchid(kNoTouch);
                break;
            default:
                break;
        }
        const int n = sizes[call];
        std::vector<float> left(n, 9.0f), right(n, 9.0f);
        m.renderAudio(left.data(), right.data(), n);
        rec.mix.insert(rec.mix.end(), left.begin(), left.end());
        rec.mix.insert(rec.mix.end(), right.begin(), right.end());
        for (std::size_t i = 0; i < kSceneVoices; ++i) {
            const Playhead& v = p[i];
            rec.voices.insert(rec.voices.end(),
                              {v.pos(), v.envelope(), v.looperPos(), v.looperCrossfade(),
                               v.bowPos(), v.bowAmp(), v.active() ? 1.0 : 0.0});
        }
    }
    return rec;
}

std::filesystem::path referencePath(bool update) {
    const char* dir = std::getenv(update ? "VORNIK_SOURCE_DIR" : "VORNIK_TEST_DATA");
    std::filesystem::path base = dir ? dir : (update ? "." : "tests/data");
    return update ? base / "tests" / "data" / "mixer-scene.bin" : base / "mixer-scene.bin";
}

template <class T>
void writeAll(std::ofstream& f, const std::vector<T>& v) {
    const auto size = static_cast<std::uint64_t>(v.size());
    f.write(reinterpret_cast<const char*>(&size), sizeof size);
    f.write(reinterpret_cast<const char*>(v.data()),
            static_cast<std::streamsize>(size * sizeof(T)));
}

template <class T>
std::vector<T> readAll(std::ifstream& f) {
    std::uint64_t size = 0;
    f.read(reinterpret_cast<char*>(&size), sizeof size);
    std::vector<T> v(f ? size : 0);
    f.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(v.size() * sizeof(T)));
    return v;
}

}  // namespace

TEST(MixerPaths, EveryPathRendersTheReferenceScene) {
    const char* update = std::getenv("VORNIK_UPDATE_GOLDENS");
    if (update && std::string(update) == "1") {
        Mixer m;
        const Recording rec = renderScene(m);
        std::ofstream f(referencePath(true), std::ios::binary);
        writeAll(f, rec.mix);
        writeAll(f, rec.voices);
        ASSERT_TRUE(f.good());
        return;
    }
    std::ifstream f(referencePath(false), std::ios::binary);
    const auto mix = readAll<float>(f);
    const auto voices = readAll<double>(f);
    ASSERT_FALSE(mix.empty()) << "no reference at " << referencePath(false);

    int tested = 0;
    for (MixPath path : {MixPath::kScalar, MixPath::kSse2, MixPath::kAvx2, MixPath::kAvx512}) {
        Mixer m;
        if (!m.setPath(path)) continue;  // not on this machine
        ++tested;
        SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path));
        const Recording rec = renderScene(m);
        ASSERT_EQ(rec.mix.size(), mix.size());
        ASSERT_EQ(rec.voices.size(), voices.size());
        for (std::size_t i = 0; i < mix.size(); ++i) {
            ASSERT_NEAR(rec.mix[i], mix[i], kMixTolerance) << "mix value " << i;
        }
        for (std::size_t i = 0; i < voices.size(); ++i) {
            // Bit for bit (NaN never occurs here).
            ASSERT_EQ(rec.voices[i], voices[i]) << "call " << i / (7 * kSceneVoices) << ", voice "
                                                << i / 7 % kSceneVoices << ", field " << i % 7;
        }
    }
    EXPECT_EQ(tested, 1 + mixPathAvailable(MixPath::kSse2) + mixPathAvailable(MixPath::kAvx2) +
                          mixPathAvailable(MixPath::kAvx512));
}

TEST(MixerPaths, HeadsStayTheRunningSumAtBinadeEdgesAndTies) {
    // Half an ulp of a position in [2048, 4096): rates of 1 + that round to a tie, and from an
    // odd multiple of the ulp the steps then alternate. Heads that cross a power of two change
    // their ulp.
    const double tie = std::ldexp(1.0, -42);
    const std::pair<double, double> cases[] = {{3000.0 + 2.0 * tie, 1.0 + tie},
                                               {3000.5 + 2.0 * tie, -(1.0 + 3.0 * tie)},
                                               {4095.9, 0.013},
                                               {2048.5, -0.0101},
                                               {1234.567, 0.91875},
                                               {3000.0, 1e-12},
                                               {5000.25, 2.0 / 3.0},
                                               {4096.0 - 1e-9, 1e-10}};
    for (MixPath path : {MixPath::kScalar, MixPath::kSse2, MixPath::kAvx2, MixPath::kAvx512}) {
        Mixer m;
        if (!m.setPath(path)) continue;
        m.sample().publish(test::snapshotOf(test::ramp(10000, 1e-4f)));
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            start(m.playheads()[i], Playhead::kTape, cases[i].first, 0, 10000, cases[i].second);
        }
        std::vector<float> l(200), r(200);
        for (int frames : {64, 64, 37, 200}) m.renderAudio(l.data(), r.data(), frames);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            double p = cases[i].first;
            for (int n = 0; n < 64 + 64 + 37 + 200; ++n) p += cases[i].second;
            EXPECT_EQ(m.playheads()[i].pos(), p)
                << "path " << static_cast<int>(path) << ", case " << i;
        }
    }
}
