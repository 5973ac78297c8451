// The graph heard through a server at another rate: pitch and timing kept, any period size,
// nothing allocated or locked on the way. (The input's conversion to a take is tested on a real
// server, in tests/app/JackServerTest.cpp.)

#include <gtest/gtest.h>

#include <numbers>

#include "AudioTestSupport.h"
#include "audio/RateConverter.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;

namespace {

std::vector<float> sine(double hz, double rate, std::size_t frames, float amplitude) {
    std::vector<float> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = amplitude * std::sin(2 * std::numbers::pi * hz * i / rate);
    return v;
}

// Ragged periods, as servers deliver them: the smallest, the largest and odd ones.
constexpr int kPeriods[] = {16, 4096, 333, 64, 1000};

}  // namespace

TEST(RateConverter, ASliceSoundsAtItsPitchAndOnTimeAtEveryServerRate) {
    // A 441 Hz sine in a 44.1 kHz sample plays at 441 Hz whatever the server's rate; a note
    // started after 0.25 s of silence is heard 0.25 s in, late by no more than the converter's
    // look-ahead (one graph block and its filter: under 3 ms).
    for (const double rate : {44100.0, 48000.0, 96000.0}) {
        View v;
        v.view.mixer().sample().publish(snapshotOf(sine(441.0, 44100.0, 88200, 0.8f), {}, 44100.0));
        OutputRateConverter converter;
        ASSERT_TRUE(converter.prepare(v.view.audioGraph(), rate));
        EXPECT_EQ(converter.converting(), rate != 48000.0);

        const auto total = static_cast<std::size_t>(0.8 * rate), noteAt = total * 5 / 16;
        std::vector<float> left(total), right(total);
        RealtimeCounts counts;
        for (std::size_t done = 0, k = 0; done < total; ++k) {
            if (done == noteAt) v.view.playSlice(0, 88200, 0.8f, 1);
            const std::size_t until = done < noteAt ? noteAt : total;  // a period ends at the note
            const int n = static_cast<int>(std::min<std::size_t>(kPeriods[k % 5], until - done));
            RealtimeScope scope;
            converter.render(left.data() + done, right.data() + done, n);
            counts.allocations += scope.counts().allocations;
            counts.locks += scope.counts().locks;
            done += static_cast<std::size_t>(n);
        }
        expectRealtime(counts);
        std::size_t onset = 0;
        while (onset < total && std::fabs(left[onset]) < 1e-3f) ++onset;
        EXPECT_GE(onset / rate, 0.25) << rate;
        EXPECT_LT(onset / rate, 0.253) << rate;  // 0.06, 2.1 and 0.7 ms measured
        const std::vector<float> steady(left.begin() + static_cast<long>(0.3 * rate), left.end());
        EXPECT_NEAR(toneFrequency(steady, rate), 441.0, 0.3) << rate;  // 0.07%
        EXPECT_GT(rms(steady), 0.2) << rate;
    }
}
