// The graph as the view builds it: the mixer through inaudible effects, and the oscilloscope's
// captures of the final mix.

#include <gtest/gtest.h>

#include <vector>

#include "AudioTestSupport.h"
#include "display/MainView.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;

namespace {

struct View {
    ManualClock clock;
    RunLoop loop{clock};
    MainView view{loop};
    View() { view.initAudioEngine(MainView::AudioOutput::kNone); }
};

// A held tape voice over a noisy sample, so the mixer's output is never trivial.
void playTape(MainView& m) {
    std::vector<float> left(48000), right(48000);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = NoiseSource::at(2 * i) * 0.5f;
        right[i] = NoiseSource::at(2 * i + 1) * 0.5f;
    }
    m.mixer().sample().publish(snapshotOf(left, right, 44100.0));
    Playhead& v = m.playheads()[0];
    v.setMode(Playhead::kTape);
    v.setTouchid(7);
    v.setAmp(0.8f);
    v.setRate(m.getCurrentFilePlaybackRate());
    v.setPos(100.0);
    v.setActive(true);
}

}  // namespace

TEST(AudioGraph, TheViewsStartSettingsPassTheMixerThroughUnchanged) {
    View withGraph, mixerOnly;
    playTape(withGraph.view);
    playTape(mixerOnly.view);
    std::vector<float> l1(4096), r1(4096), l2(4096), r2(4096);
    for (int call = 0; call < 20; ++call) {
        withGraph.view.renderOutput(l1.data(), r1.data(), 4096);
        for (int done = 0; done < 4096; done += 64) {
            mixerOnly.view.renderAudio(l2.data() + done, r2.data() + done, 64);
        }
        ASSERT_EQ(l1, l2) << call;
        ASSERT_EQ(r1, r2) << call;
    }
    EXPECT_GT(rms(l1), 0.05);

    // Moving the controls changes the sound; moving them back to their start positions
    // (filter 1, delay feedback 0, reverb 0) gives the mixer's output bit for bit again.
    MainView& m = withGraph.view;
    m.filterSet(0.3f);
    m.delayTimeSet(0.1f);
    m.delayFeedbackSet(0.4f);
    m.reverbSet(0.6f);
    withGraph.view.renderOutput(l1.data(), r1.data(), 4096);
    mixerOnly.view.renderOutput(l2.data(), r2.data(), 4096);
    EXPECT_NE(l1, l2);
    m.filterSet(1.0f);
    m.delayFeedbackSet(0.0f);
    m.reverbSet(0.0f);
    withGraph.view.renderOutput(l1.data(), r1.data(), 4096);  // fades out
    mixerOnly.view.renderOutput(l2.data(), r2.data(), 4096);
    withGraph.view.renderOutput(l1.data(), r1.data(), 4096);
    mixerOnly.view.renderOutput(l2.data(), r2.data(), 4096);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
}

TEST(AudioGraph, OscilloscopeCapturesTheFinalMix) {
    View v;
    MainView& m = v.view;
    EXPECT_EQ(m.oscL(), nullptr);
    EXPECT_EQ(m.oscR(), nullptr);
    EXPECT_EQ(m.oscLength(), 0);
    EXPECT_FALSE(m.oscNewData());
    EXPECT_FALSE(m.takeOscilloscopeCapture());

    playTape(m);
    m.reverbSet(0.5f);  // the capture is taken after every effect
    std::vector<float> l(5000), r(5000);
    m.renderOutput(l.data(), r.data(), 1000);
    EXPECT_FALSE(m.takeOscilloscopeCapture());  // not 1024 frames yet
    m.renderOutput(l.data() + 1000, r.data() + 1000, 1100);
    ASSERT_TRUE(m.takeOscilloscopeCapture());  // the newest complete one: frames 1024..2047
    EXPECT_TRUE(m.oscNewData());
    EXPECT_EQ(m.oscLength(), 1024);
    ASSERT_NE(m.oscL(), nullptr);
    EXPECT_EQ(std::vector<float>(m.oscL(), m.oscL() + 1024),
              std::vector<float>(l.begin() + 1024, l.begin() + 2048));
    EXPECT_EQ(std::vector<float>(m.oscR(), m.oscR() + 1024),
              std::vector<float>(r.begin() + 1024, r.begin() + 2048));

    // The display clears the flag after drawing; nothing new until the next capture completes.
    m.setOscNewData(false);
    EXPECT_FALSE(m.takeOscilloscopeCapture());
    EXPECT_FALSE(m.oscNewData());
    const float* storage = m.oscL();
    m.renderOutput(l.data() + 2100, r.data() + 2100, 2900);  // completes two more
    ASSERT_TRUE(m.takeOscilloscopeCapture());
    EXPECT_EQ(m.oscL(), storage);  // the view's own storage, reused
    EXPECT_EQ(std::vector<float>(m.oscL(), m.oscL() + 1024),
              std::vector<float>(l.begin() + 3072, l.begin() + 4096));
}

TEST(AudioGraph, WithoutSourceOrPreparationItRendersSilence) {
    AudioGraph g;
    std::vector<float> l(100, 1.0f), r(100, 1.0f);
    g.render(l.data(), r.data(), 100);  // not prepared
    EXPECT_EQ(l, std::vector<float>(100, 0.0f));
    g.prepare();
    std::fill(l.begin(), l.end(), 1.0f);
    g.render(l.data(), r.data(), 100);  // no source
    EXPECT_EQ(r, std::vector<float>(100, 0.0f));
    g.render(l.data(), r.data(), 0);
    g.render(l.data(), r.data(), -5);

    // The view renders silence before a sample is loaded.
    View v;
    std::fill(l.begin(), l.end(), 1.0f);
    v.view.renderOutput(l.data(), r.data(), 100);
    EXPECT_EQ(l, std::vector<float>(100, 0.0f));
}
