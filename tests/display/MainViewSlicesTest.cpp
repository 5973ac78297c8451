// The slice display: markers and flash rectangles in slicer mode, the quarter markers in tape
// mode, nothing in looper and bow modes.

#include <gtest/gtest.h>

#include "MainViewTestSupport.h"

using namespace vornik;
using test::Strip;

namespace {

void expectStripRect(const Layer& l, double x, double width, const Color& colour, float opacity) {
    EXPECT_EQ(l.frame(), Rect::make(x, 0, width, 30));
    EXPECT_EQ(l.backgroundColor(), colour);
    EXPECT_EQ(l.opacity(), opacity);
}

}  // namespace

TEST(SliceDisplay, MarkersAndFlashRectanglesPerMode) {
    Strip strip(685, 30);
    strip.loadAndMeasure(test::snapshotOf(test::sine(44100, 100, 0.5f)));
    strip.view.setNumSlices(4);
    const struct {
        int mode;
        std::vector<double> markers;
        bool highlights;
    } modes[] = {{Playhead::kSlicer, {0.0, 171.25, 342.5, 513.75}, true},
                 {Playhead::kLooper, {}, false},
                 {Playhead::kBow, {}, false},
                 {Playhead::kTape, {171.25, 342.5, 513.75}, false}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.mode);
        strip.view.setPlayMode(Playhead::kSlicer);
        strip.view.showSlices();
        strip.view.slices()[1].end = 0.3f;  // something a slicer lay-out would overwrite
        strip.view.setPlayMode(m.mode);
        strip.view.showSlices();
        ASSERT_EQ(strip.markers().size(), m.markers.size());
        ASSERT_EQ(strip.highlights().size(), m.highlights ? 4u : 0u);
        for (std::size_t i = 0; i < m.markers.size(); ++i) {
            expectStripRect(*strip.markers()[i], m.markers[i], 1.0, Color::white(1.0, 0.6), 1.0f);
        }
        ASSERT_EQ(strip.view.slices().size(), 4u);
        if (m.mode == Playhead::kSlicer) {
            for (std::size_t i = 0; i < 4; ++i) {
                expectStripRect(*strip.highlights()[i], m.markers[i], 171.25, Color::white(1.0),
                                0.0f);
                EXPECT_EQ(strip.view.slices()[i].end,
                          i == 3 ? 1.0f : strip.view.slices()[i + 1].pos);
            }
        } else if (m.mode != Playhead::kTape) {
            EXPECT_EQ(strip.view.slices()[1].end, 0.3f);  // the list stays as it was
        }
    }
    // A new lay-out cuts off a flash in progress; an empty list shows nothing.
    strip.view.setPlayMode(Playhead::kSlicer);
    strip.view.slices()[2].highlightOpacity = 1.0f;
    strip.view.showSlices();
    EXPECT_EQ(strip.view.slices()[2].highlightOpacity, 0.0f);
    strip.view.slices().clear();
    strip.view.showSlices();
    EXPECT_TRUE(strip.markers().empty());
    EXPECT_TRUE(strip.highlights().empty());
}
