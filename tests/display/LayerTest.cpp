#include <gtest/gtest.h>

#include "display/Layer.h"
#include "display/Transaction.h"
#include "support/LogLines.h"

using namespace vornik;

namespace {

std::vector<Layer*> raw(const Layer& parent) {
    std::vector<Layer*> out;
    for (const auto& l : parent.sublayers()) out.push_back(l.get());
    return out;
}

}  // namespace

TEST(LayerTree, FramesOwnershipAndBadLayers) {
    for (auto [size, anchor, position, frame] :
         {std::tuple{Size{220, 22}, Point{0.5, 0.5}, Point{342.5, 15},
                     Rect::make(232.5, 4, 220, 22)},
          {Size{80, 1.5}, {0, 1}, {100, 28}, Rect::make(100, 26.5, 80, 1.5)}}) {
        auto layer = Layer::create();
        layer->setBounds(Rect::make(0, 0, size.width, size.height));
        layer->setAnchorPoint(anchor);
        layer->setPosition(position);
        EXPECT_EQ(layer->frame(), frame);
    }
    test::LogLines log;
    auto root = Layer::create(), a = Layer::create(), b = Layer::create();
    std::weak_ptr<Layer> weakBar;
    {
        auto bar = Layer::create();
        weakBar = bar;
        root->setSublayers({a, bar, b});
    }
    root->setSublayers({b, a});
    EXPECT_TRUE(weakBar.expired());
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{b.get(), a.get()}));
    b->addSublayer(a);
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{b.get()}));
    EXPECT_EQ(a->superlayer(), b.get());
    // Cycles, nulls and self-masks are refused, logged.
    a->addSublayer(root);  // its own ancestor
    b->addSublayer(b);     // itself
    root->addSublayer(nullptr);
    root->setMask(root);
    EXPECT_EQ(root->superlayer(), nullptr);
    EXPECT_TRUE(a->sublayers().empty());
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{b.get()}));
    EXPECT_EQ(root->mask(), nullptr);
    Transaction::commit();  // without a begin
    EXPECT_EQ(Transaction::depth(), 0u);
    EXPECT_EQ(log.lines.size(), 5u);
    root.reset();
    EXPECT_EQ(b->superlayer(), nullptr);
}

TEST(LayerFade, OpacityFadesOnTheLayerClockUnlessActionsAreDisabledAndTransactionsNest) {
    ManualClock clock;
    clock.set(100.0);
    ScopedLayerClock useClock(clock);
    auto alert = Layer::create();
    alert->setOpacity(0.0f);  // never on screen: at once
    EXPECT_FALSE(alert->isFading(clock.now()));
    alert->markPresented();  // as a render does
    // The model at once, the picture over 0.25 s; an interrupted fade starts from what is shown.
    alert->setOpacity(1.0f);
    EXPECT_EQ(alert->presentationOpacity(), 0.0f);
    clock.advance(0.125);
    EXPECT_NEAR(alert->presentationOpacity(), 0.5f, 1e-6);
    alert->setOpacity(0.0f);
    clock.advance(0.0625);
    EXPECT_NEAR(alert->presentationOpacity(), 0.375f, 1e-6);
    clock.advance(0.1875);
    EXPECT_EQ(alert->presentationOpacity(), 0.0f);
    EXPECT_FALSE(alert->isFading(clock.now()));
    // The looper hint: a transaction with a 0.5 s duration.
    Transaction::begin();
    Transaction::setAnimationDuration(0.5);
    alert->setOpacity(1.0f);
    Transaction::commit();
    clock.advance(0.25);
    EXPECT_NEAR(alert->presentationOpacity(), 0.5f, 1e-6);
    // Disabled actions jump, and cut off a fade in progress.
    {
        TransactionScope quiet(true);
        alert->setOpacity(0.45f);
    }
    EXPECT_EQ(alert->presentationOpacity(), 0.45f);
    alert->setOpacity(0.45f);  // the value already shown starts nothing
    EXPECT_FALSE(alert->isFading(clock.now()));

    Transaction::begin();
    Transaction::setDisableActions(true);
    Transaction::setAnimationDuration(0.2);
    Transaction::begin();  // inherits both
    EXPECT_TRUE(Transaction::disableActions());
    Transaction::setDisableActions(false);  // only for the inner one
    auto layer = Layer::create();
    layer->markPresented();
    layer->setOpacity(0.0f);
    clock.advance(0.1);
    EXPECT_NEAR(layer->presentationOpacity(), 0.5f, 1e-6);  // the outer 0.2 s duration
    Transaction::setAnimationDuration(-1.0);                // nonsense: no duration of its own
    EXPECT_EQ(Transaction::animationDuration(), 0.2);
    Transaction::commit();
    EXPECT_TRUE(Transaction::disableActions());  // the outer setting is back
    Transaction::commit();
    EXPECT_FALSE(Transaction::disableActions());
    // Settings made outside any transaction hold until the next flush.
    Transaction::setDisableActions(true);
    Transaction::setAnimationDuration(0.5);
    Transaction::begin();
    EXPECT_TRUE(Transaction::disableActions());
    Transaction::commit();
    EXPECT_EQ(Transaction::animationDuration(), 0.5);
    Transaction::flush();
    EXPECT_FALSE(Transaction::disableActions());
    EXPECT_EQ(Transaction::animationDuration(), kDefaultFadeDuration);
}
