#include <gtest/gtest.h>

#include "display/Layer.h"
#include "display/Transaction.h"
#include "support/LogLines.h"
#include "support/RealtimeGuard.h"

using namespace vornik;

namespace {

void expectRect(const Rect& r, double x, double y, double w, double h) {
    EXPECT_DOUBLE_EQ(r.origin.x, x);
    EXPECT_DOUBLE_EQ(r.origin.y, y);
    EXPECT_DOUBLE_EQ(r.size.width, w);
    EXPECT_DOUBLE_EQ(r.size.height, h);
}

std::vector<Layer*> raw(const Layer& parent) {
    std::vector<Layer*> out;
    for (const auto& l : parent.sublayers()) out.push_back(l.get());
    return out;
}

}  // namespace

TEST(LayerGeometry, FrameFollowsBoundsAnchorAndPosition) {
    auto layer = Layer::create();
    expectRect(layer->frame(), 0, 0, 0, 0);
    EXPECT_EQ(layer->anchorPoint(), (Point{0.5, 0.5}));

    // The looper hint box and its text: 220 x 17 at (110, 11) sits 2.5 points in from each edge
    // of the 220 x 22 box.
    auto box = Layer::create();
    box->setBounds(Rect::make(0, 0, 220, 22));
    expectRect(box->frame(), -110, -11, 220, 22);
    box->setPosition({342.5, 15});
    expectRect(box->frame(), 232.5, 4, 220, 22);
    auto text = TextLayer::create();
    text->setBounds(Rect::make(0, 0, 220, 17));
    text->setPosition({110, 11});
    expectRect(text->frame(), 0, 2.5, 220, 17);

    // A voice cursor (anchor at its bottom-left) and a speed bar (anchor at its top-left).
    auto cursor = Layer::create();
    cursor->setBounds(Rect::make(0, 0, 1, 50));
    cursor->setAnchorPoint({0, 0});
    cursor->setPosition({171.25, 0});
    expectRect(cursor->frame(), 171.25, 0, 1, 50);
    auto speed = Layer::create();
    speed->setAnchorPoint({0, 1});
    speed->setBounds(Rect::make(0, 0, 80, 1.5));
    speed->setPosition({100, 28});
    expectRect(speed->frame(), 100, 26.5, 80, 1.5);

    // Setting the frame sets the size and the position and leaves the bounds origin alone.
    auto framed = Layer::create();
    framed->setBounds(Rect::make(5, 7, 1, 1));
    framed->setFrame(Rect::make(10, 20, 30, 40));
    EXPECT_EQ(framed->position(), (Point{25, 40}));
    expectRect(framed->bounds(), 5, 7, 30, 40);
    expectRect(framed->frame(), 10, 20, 30, 40);
    framed->setAnchorPoint({0, 0});
    framed->setFrame(Rect::make(1, 2, 3, 4));
    EXPECT_EQ(framed->position(), (Point{1, 2}));

    // An icon container: framed at 0,0 30 x 30, then anchored at its corner. The anchor moves
    // the frame (the position stays), so a layer given that frame has its origin at the centre.
    auto container = Layer::create();
    container->setFrame(Rect::make(0, 0, 30, 30));
    container->setAnchorPoint({0, 0});
    EXPECT_EQ(container->position(), (Point{15, 15}));
    expectRect(container->frame(), 15, 15, 30, 30);
    auto path = ShapeLayer::create();
    path->setFrame(container->frame());
    expectRect(path->frame(), 15, 15, 30, 30);
    EXPECT_EQ(path->position(), (Point{30, 30}));
}

TEST(LayerTree, SublayersKeepStackingOrderAndOneSuperlayer) {
    auto root = Layer::create();
    auto a = Layer::create(), b = Layer::create(), c = Layer::create();
    root->addSublayer(a);
    root->addSublayer(b);
    root->addSublayer(c);
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{a.get(), b.get(), c.get()}));
    EXPECT_EQ(b->superlayer(), root.get());

    root->addSublayer(a);  // adding again brings it to the top
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{b.get(), c.get(), a.get()}));
    root->insertSublayer(a, 0);
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{a.get(), b.get(), c.get()}));
    auto d = Layer::create();
    root->insertSublayer(d, 99);  // clamped to the top
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{a.get(), b.get(), c.get(), d.get()}));

    auto other = Layer::create();
    other->addSublayer(b);  // a layer has one superlayer
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{a.get(), c.get(), d.get()}));
    EXPECT_EQ(b->superlayer(), other.get());

    c->removeFromSuperlayer();
    EXPECT_EQ(c->superlayer(), nullptr);
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{a.get(), d.get()}));
    c->removeFromSuperlayer();  // again: nothing

    // Emptying a container releases the layers nobody else holds.
    std::weak_ptr<Layer> weakBar;
    {
        auto bar = Layer::create();
        weakBar = bar;
        root->addSublayer(bar);
    }
    root->setSublayers({});
    EXPECT_TRUE(root->sublayers().empty());
    EXPECT_TRUE(weakBar.expired());
    EXPECT_EQ(a->superlayer(), nullptr);  // still held here, no longer in the tree

    // A list that keeps some old layers and adds new ones.
    root->setSublayers({a, d});
    root->setSublayers({d, c, a});
    EXPECT_EQ(raw(*root), (std::vector<Layer*>{d.get(), c.get(), a.get()}));
    for (Layer* l : raw(*root)) EXPECT_EQ(l->superlayer(), root.get());

    // A layer whose only owner is its superlayer survives its own removal call.
    {
        auto last = Layer::create();
        root->addSublayer(last);
    }
    root->sublayers().back()->removeFromSuperlayer();
    EXPECT_EQ(root->sublayers().size(), 3u);

    // A superlayer that goes away leaves its sublayers without one.
    auto orphan = Layer::create();
    {
        auto parent = Layer::create();
        parent->addSublayer(orphan);
    }
    EXPECT_EQ(orphan->superlayer(), nullptr);
}

TEST(LayerTree, CyclesAndBadLayersAreRefused) {
    test::LogLines log;
    auto root = Layer::create(), child = Layer::create(), grandchild = Layer::create();
    root->addSublayer(child);
    child->addSublayer(grandchild);

    grandchild->addSublayer(root);  // its own ancestor
    child->addSublayer(child);      // itself
    root->addSublayer(nullptr);
    root->setMask(root);
    EXPECT_EQ(root->superlayer(), nullptr);
    EXPECT_TRUE(grandchild->sublayers().empty());
    EXPECT_EQ(child->superlayer(), root.get());
    EXPECT_EQ(root->sublayers().size(), 1u);
    EXPECT_EQ(root->mask(), nullptr);
    EXPECT_EQ(log.lines.size(), 4u);

    Transaction::commit();  // without a begin
    EXPECT_EQ(Transaction::depth(), 0u);
    EXPECT_EQ(log.lines.size(), 5u);
}

TEST(LayerFade, OpacityFadesOnTheLayerClockUnlessActionsAreDisabled) {
    ManualClock clock;
    clock.set(100.0);
    ScopedLayerClock useClock(clock);
    // A layer that has never been on screen takes every change at once.
    auto alert = Layer::create();
    alert->setOpacity(0.0f);
    EXPECT_FALSE(alert->hasBeenPresented());
    EXPECT_FALSE(alert->isFading(clock.now()));
    EXPECT_EQ(alert->presentationOpacity(), 0.0f);
    alert->markPresented();  // as a render does

    // An ordinary change: the model at once, the picture over the default 0.25 s.
    alert->setOpacity(1.0f);
    EXPECT_EQ(alert->opacity(), 1.0f);
    EXPECT_EQ(alert->presentationOpacity(), 0.0f);
    EXPECT_TRUE(alert->isFading(clock.now()));
    clock.advance(0.125);
    EXPECT_NEAR(alert->presentationOpacity(), 0.5f, 1e-6);
    clock.advance(0.125);
    EXPECT_EQ(alert->presentationOpacity(), 1.0f);
    EXPECT_FALSE(alert->isFading(clock.now()));

    // A change that interrupts a fade starts from what is shown.
    alert->setOpacity(0.0f);
    clock.advance(0.0625);
    EXPECT_NEAR(alert->presentationOpacity(), 0.75f, 1e-6);
    alert->setOpacity(1.0f);
    EXPECT_NEAR(alert->presentationOpacity(), 0.75f, 1e-6);
    clock.advance(0.125);
    EXPECT_NEAR(alert->presentationOpacity(), 0.875f, 1e-6);
    clock.advance(0.125);
    EXPECT_EQ(alert->presentationOpacity(), 1.0f);

    // The looper hint: a transaction with a 0.5 s duration.
    {
        TransactionScope quiet(true);
        alert->setOpacity(0.0f);
    }
    Transaction::begin();
    Transaction::setAnimationDuration(0.5);
    alert->setOpacity(1.0f);
    Transaction::commit();
    clock.advance(0.25);
    EXPECT_NEAR(alert->presentationOpacity(), 0.5f, 1e-6);
    clock.advance(0.25);
    EXPECT_EQ(alert->presentationOpacity(), 1.0f);

    // Disabled actions jump, and cut off a fade in progress.
    alert->setOpacity(0.0f);
    clock.advance(0.1);
    {
        TransactionScope quiet(true);
        alert->setOpacity(0.45f);
        EXPECT_EQ(alert->presentationOpacity(), 0.45f);
    }
    clock.advance(0.1);
    EXPECT_EQ(alert->presentationOpacity(), 0.45f);
    EXPECT_FALSE(alert->isFading(clock.now()));

    // Setting the value already shown starts nothing.
    alert->setOpacity(0.45f);
    EXPECT_FALSE(alert->isFading(clock.now()));
}

TEST(LayerFade, TransactionsNestAndInherit) {
    ManualClock clock;
    ScopedLayerClock useClock(clock);
    EXPECT_FALSE(Transaction::disableActions());
    EXPECT_EQ(Transaction::animationDuration(), kDefaultFadeDuration);

    Transaction::begin();
    Transaction::setDisableActions(true);
    Transaction::setAnimationDuration(0.2);
    Transaction::begin();  // inherits both
    EXPECT_EQ(Transaction::depth(), 2u);
    EXPECT_TRUE(Transaction::disableActions());
    EXPECT_EQ(Transaction::animationDuration(), 0.2);
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
    EXPECT_EQ(Transaction::animationDuration(), kDefaultFadeDuration);
    EXPECT_EQ(Transaction::depth(), 0u);

    // Settings made outside any transaction hold until the next flush.
    Transaction::setDisableActions(true);
    Transaction::begin();
    EXPECT_TRUE(Transaction::disableActions());
    Transaction::commit();
    Transaction::flush();
    EXPECT_FALSE(Transaction::disableActions());
    Transaction::setAnimationDuration(0.5);
    EXPECT_EQ(Transaction::animationDuration(), 0.5);
    Transaction::flush();
    EXPECT_EQ(Transaction::animationDuration(), kDefaultFadeDuration);
}

TEST(LayerFade, SteadyFrameUpdatesDoNotAllocate) {
    // What the instrument does every frame: 256 voice layers moved and faded with actions
    // disabled, and the oscilloscope trace rebuilt in place.
    ManualClock clock;
    ScopedLayerClock useClock(clock);
    auto root = Layer::create();
    std::vector<LayerPtr> voices;
    for (int i = 0; i < 256; ++i) {
        voices.push_back(Layer::create());
        root->addSublayer(voices.back());
    }
    auto osc = ShapeLayer::create();
    root->addSublayer(osc);

    auto frame = [&](int n) {
        TransactionScope quiet(true);
        for (int i = 0; i < 256; ++i) {
            voices[i]->setPosition({n * 0.5 + i, 0.0});
            voices[i]->setOpacity(static_cast<float>((n + i) % 10) / 10.0f);
        }
        Path& path = osc->editPath();
        path.clear();
        for (int i = 0; i < 1024; ++i) {
            if (i == 0) {
                path.moveTo(0, 15);
            } else {
                path.lineTo(i, 15 + (i + n) % 7);
            }
        }
    };
    frame(0);  // warm-up: the path grows to its size once
    test::RealtimeScope scope;
    for (int n = 1; n < 10; ++n) frame(n);
    EXPECT_EQ(scope.counts().allocations, 0u);
    EXPECT_EQ(scope.counts().locks, 0u);
}
