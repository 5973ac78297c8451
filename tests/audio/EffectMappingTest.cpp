// The controls' mappings to effect parameters, the start settings and the playback rate.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "display/MainView.h"
#include "support/SampleFixtures.h"

using namespace vornik;

namespace {

struct View {
    ManualClock clock;
    RunLoop loop{clock};
    MainView view{loop};
    View() { view.initAudioEngine(MainView::AudioOutput::kNone); }
};

}  // namespace

TEST(EffectMapping, StartSettingsAreInaudible) {
    View v;
    MainView& m = v.view;
    EXPECT_DOUBLE_EQ(m.attack(), 0.005);
    EXPECT_DOUBLE_EQ(m.decay(), 0.72);
    EXPECT_FALSE(m.recording());
    EXPECT_TRUE(m.lowpassBypass());
    EXPECT_EQ(m.lowpassFrequency(), 22000.0f);
    EXPECT_FALSE(m.audioGraph().lowpass().bandBypass());
    EXPECT_EQ(m.audioGraph().lowpass().filterType(), FilterType::kLowPass);
    EXPECT_TRUE(m.highpassBypass());
    EXPECT_EQ(m.highpassFrequency(), 0.0f);
    EXPECT_FALSE(m.audioGraph().highpass().bandBypass());
    EXPECT_EQ(m.audioGraph().highpass().filterType(), FilterType::kHighPass);
    EXPECT_EQ(m.delayTime(), 0.45);
    EXPECT_EQ(m.delayFeedback(), 70.0f);
    EXPECT_EQ(m.delayWetDryMix(), 0.0f);
    EXPECT_EQ(m.audioGraph().delay().lowPassCutoff(), 22000.0f);
    EXPECT_EQ(m.audioGraph().reverb().factoryPreset(), 8);
    EXPECT_EQ(m.reverbWetDryMix(), 0.0f);
    EXPECT_TRUE(m.audioGraph().isPrepared());
    EXPECT_FALSE(m.audioDeviceOpen());
}

TEST(EffectMapping, FilterControl) {
    View v;
    MainView& m = v.view;

    m.filterSet(0.0f);
    EXPECT_FALSE(m.lowpassBypass());
    EXPECT_TRUE(m.highpassBypass());
    EXPECT_EQ(m.lowpassFrequency(), 100.0f);

    m.filterSet(0.5f);
    EXPECT_EQ(m.lowpassFrequency(), 2850.0f);

    m.filterSet(0.9f);  // 0.9f cubed in double is 0.72899994..., so a little under 16,138
    EXPECT_NEAR(m.lowpassFrequency(), 16138.0f, 0.01f);
    // The cube in double narrowed to float, then single precision: 16137.998 exactly.
    EXPECT_EQ(m.lowpassFrequency(),
              static_cast<float>(double{0.9f} * 0.9f * 0.9f) * 22000.0f + 100.0f);

    // Exactly 1 bypasses both and keeps both frequencies.
    m.filterSet(1.0f);
    EXPECT_TRUE(m.lowpassBypass());
    EXPECT_TRUE(m.highpassBypass());
    EXPECT_NEAR(m.lowpassFrequency(), 16138.0f, 0.01f);
    EXPECT_EQ(m.highpassFrequency(), 0.0f);

    m.filterSet(0.999f);
    EXPECT_FALSE(m.lowpassBypass());
    EXPECT_TRUE(m.highpassBypass());
    EXPECT_NEAR(m.lowpassFrequency(), 22034.0f, 0.1f);

    m.filterSet(1.001f);  // 1.001f - 1 is 0.00099992752 in single precision
    EXPECT_TRUE(m.lowpassBypass());
    EXPECT_FALSE(m.highpassBypass());
    EXPECT_NEAR(m.highpassFrequency(), 0.011f, 0.0001f);

    m.filterSet(0.5f);
    m.filterSet(1.5f);
    EXPECT_TRUE(m.lowpassBypass());
    EXPECT_EQ(m.lowpassFrequency(), 2850.0f);
    EXPECT_FALSE(m.highpassBypass());
    EXPECT_EQ(m.highpassFrequency(), 2750.0f);

    m.filterSet(2.0f);
    EXPECT_EQ(m.highpassFrequency(), 11000.0f);

    // Not a number changes nothing.
    m.filterSet(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(m.lowpassBypass());
    EXPECT_FALSE(m.highpassBypass());
    EXPECT_EQ(m.highpassFrequency(), 11000.0f);
}

TEST(EffectMapping, DelayAndReverbControls) {
    View v;
    MainView& m = v.view;

    m.delayTimeSet(0.0f);
    EXPECT_DOUBLE_EQ(m.delayTime(), 0.05);
    m.delayTimeSet(0.5f);
    EXPECT_DOUBLE_EQ(m.delayTime(), 1.05);
    m.delayTimeSet(1.0f);
    EXPECT_DOUBLE_EQ(m.delayTime(), 2.05);
    // The doubling in single precision, the addition in double.
    m.delayTimeSet(0.3f);
    EXPECT_EQ(m.delayTime(), static_cast<double>(0.3f + 0.3f) + 0.05);
    // 2.05 s is held as it is, not clamped: 98,400 frames.
    m.delayTimeSet(1.0f);
    EXPECT_EQ(m.audioGraph().delay().delayFramesFor(m.delayTime()), 98400);

    m.delayFeedbackSet(0.5f);
    EXPECT_EQ(m.delayFeedback(), 50.0f);
    EXPECT_EQ(m.delayWetDryMix(), 50.0f);
    m.delayFeedbackSet(0.125f);  // the control sends the cube of 0.5
    EXPECT_EQ(m.delayFeedback(), 12.5f);
    EXPECT_EQ(m.delayWetDryMix(), 12.5f);
    m.delayFeedbackSet(0.0f);
    EXPECT_EQ(m.delayFeedback(), 0.0f);
    EXPECT_EQ(m.delayWetDryMix(), 0.0f);

    m.reverbSet(0.25f);
    EXPECT_EQ(m.reverbWetDryMix(), 25.0f);
    m.reverbSet(1.0f);
    EXPECT_EQ(m.reverbWetDryMix(), 100.0f);
}

TEST(EffectMapping, PlaybackRate) {
    View v;
    MainView& m = v.view;
    EXPECT_EQ(m.getCurrentFilePlaybackRate(), 0.0);  // no file

    m.mixer().sample().publish(test::snapshotOf(test::ramp(100), {}, 44100.0));
    EXPECT_DOUBLE_EQ(m.getCurrentFilePlaybackRate(), 0.91875);
    m.setTranspose(12);
    EXPECT_DOUBLE_EQ(m.getCurrentFilePlaybackRate(), 1.8375);
    m.setTranspose(-12);
    EXPECT_DOUBLE_EQ(m.getCurrentFilePlaybackRate(), 0.459375);

    m.mixer().sample().publish(test::snapshotOf(test::ramp(100), {}, 48000.0));
    m.setTranspose(7);
    EXPECT_NEAR(m.getCurrentFilePlaybackRate(), 1.4983, 1e-4);
    EXPECT_DOUBLE_EQ(m.getCurrentFilePlaybackRate(), std::pow(2.0, 7.0 / 12.0));

    // A failed open keeps the old planes but no file: rate 0.
    auto failed = test::snapshotOf(test::ramp(100), {}, 48000.0);
    failed->loaded = false;
    m.mixer().sample().publish(std::move(failed));
    EXPECT_EQ(m.getCurrentFilePlaybackRate(), 0.0);
}
