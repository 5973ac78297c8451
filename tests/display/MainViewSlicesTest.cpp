// The slice display: markers and flash rectangles in slicer mode, the quarter markers in tape
// mode, nothing in looper and bow modes.

#include <gtest/gtest.h>

#include "MainViewTestSupport.h"
#include "display/DisplayConstants.h"

using namespace vornik;
using test::Strip;

namespace {

void expectStripRect(const Layer& l, double x, double width, double height, const Color& colour,
                     float opacity) {
    EXPECT_EQ(l.anchorPoint(), (Point{0.0, 0.0}));
    EXPECT_DOUBLE_EQ(l.position().x, x);
    EXPECT_DOUBLE_EQ(l.position().y, 0.0);
    EXPECT_DOUBLE_EQ(l.bounds().size.width, width);
    EXPECT_DOUBLE_EQ(l.bounds().size.height, height);
    EXPECT_EQ(l.backgroundColor(), colour);
    EXPECT_EQ(l.opacity(), opacity);
}

}  // namespace

TEST(SliceDisplay, SlicerMarkersAndFlashRectangles) {
    Strip strip(685, 30);
    strip.load(test::snapshotOf(test::sine(44100, 100, 0.5f)));
    strip.view.update();  // measures the strip

    strip.view.setNumSlices(4);
    ASSERT_EQ(strip.view.slices().size(), 4u);
    ASSERT_EQ(strip.markers().size(), 4u);
    ASSERT_EQ(strip.highlights().size(), 4u);
    const double x[] = {0.0, 171.25, 342.5, 513.75};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        expectStripRect(*strip.markers()[i], x[i], 1.0, 30.0, Color::white(1.0, 0.6), 1.0f);
        expectStripRect(*strip.highlights()[i], x[i], 171.25, 30.0, Color::white(1.0, 1.0), 0.0f);
        EXPECT_EQ(strip.view.sliceLayers()[i].marker, strip.markers()[i]);
        EXPECT_EQ(strip.view.sliceLayers()[i].highlight, strip.highlights()[i]);
        EXPECT_EQ(strip.view.slices()[i].end, i == 3 ? 1.0f : strip.view.slices()[i + 1].pos);
    }

    // A new lay-out cuts off a flash in progress and replaces every layer.
    strip.view.slices()[2].highlightOpacity = 1.0f;
    const LayerPtr oldMarker = strip.markers()[0];
    strip.view.showSlices();
    EXPECT_EQ(strip.view.slices()[2].highlightOpacity, 0.0f);
    EXPECT_NE(strip.markers()[0], oldMarker);
    EXPECT_EQ(strip.markers().size(), 4u);

    // A rebuilt list has no layers until it is shown; an empty list shows nothing.
    strip.view.createSlices();
    EXPECT_TRUE(strip.view.sliceLayers().empty());
    strip.view.slices().clear();
    strip.view.showSlices();
    EXPECT_TRUE(strip.markers().empty());
    EXPECT_TRUE(strip.highlights().empty());
}

TEST(SliceDisplay, TapeQuartersAndNothingInLooperOrBow) {
    Strip strip(685, 30);
    strip.load(test::snapshotOf(test::sine(44100, 100, 0.5f)));
    strip.view.update();
    strip.view.setNumSlices(4);

    strip.view.setPlayMode(3);
    strip.view.showSlices();
    ASSERT_EQ(strip.markers().size(), 3u);
    EXPECT_TRUE(strip.highlights().empty());
    const double x[] = {171.25, 342.5, 513.75};
    for (std::size_t i = 0; i < 3; ++i) {
        expectStripRect(*strip.markers()[i], x[i], 1.0, 30.0, Color::white(1.0, 0.6), 1.0f);
    }

    // Looper and bow: no markers, and the list with its ends stays as it was.
    for (const int mode : {1, 2}) {
        strip.view.setPlayMode(0);
        strip.view.showSlices();
        strip.view.slices()[1].end = 0.3f;  // something showSlices would overwrite
        strip.view.setPlayMode(mode);
        strip.view.showSlices();
        EXPECT_TRUE(strip.markers().empty());
        EXPECT_TRUE(strip.highlights().empty());
        EXPECT_TRUE(strip.view.sliceLayers().empty());
        ASSERT_EQ(strip.view.slices().size(), 4u);
        EXPECT_EQ(strip.view.slices()[1].end, 0.3f);
    }
}

TEST(SliceDisplay, UnmeasuredStripLaysOutAtZeroUntilTheSizeIsKnown) {
    Strip strip(685, 30);
    strip.view.setNumSlices(3);  // before the first update: the width is still 0
    ASSERT_EQ(strip.view.slices().size(), 3u);
    for (const auto& m : strip.markers()) EXPECT_EQ(m->position().x, 0.0);
    for (const auto& h : strip.highlights()) EXPECT_EQ(h->bounds().size.width, 0.0);
    strip.view.setPlayMode(3);
    strip.view.showSlices();
    for (const auto& m : strip.markers()) EXPECT_EQ(m->position().x, 0.0);

    // The first update measures the strip and lays everything out again at its width.
    strip.view.update();
    ASSERT_EQ(strip.markers().size(), 3u);
    EXPECT_DOUBLE_EQ(strip.markers()[0]->position().x, 171.25);
    strip.view.setPlayMode(0);
    strip.view.showSlices();
    ASSERT_EQ(strip.highlights().size(), 3u);
    EXPECT_NEAR(strip.highlights()[1]->position().x, 685.0 / 3.0, 1e-4);
}
