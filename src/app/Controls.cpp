#include "app/Controls.h"

#include <algorithm>
#include <cmath>

#include "base/Log.h"
#include "display/Transaction.h"

namespace vornik {

using namespace controls;

namespace {

// The system font's vertical metrics, as fractions of its size.
constexpr double kFontAscent = 0.928;
constexpr double kFontDescent = 0.236;
constexpr double kFontCapHeight = 0.729;

constexpr double kArrowHalfHeight = 6.0;  // the stepper's chevrons
constexpr double kArrowDepth = 3.5;
constexpr double kArrowLineWidth = 2.0;

// Changes that show at once: controls answer the finger without fading.
void setOpacityNow(Layer& layer, float opacity) {
    TransactionScope quiet(true);
    layer.setOpacity(opacity);
}

LayerPtr plainLayer() {
    auto layer = Layer::create();
    layer->setAnchorPoint({0.0, 0.0});
    return layer;
}

void placeLayer(Layer& layer, double x, double y, double width, double height) {
    layer.setAnchorPoint({0.0, 0.0});
    layer.setBounds(Rect::make(0.0, 0.0, std::max(0.0, width), std::max(0.0, height)));
    layer.setPosition({x, y});
}

// An image shown at its point size (pixels over the image scale), shrunk to fit `box` if larger,
// centred in it.
void placeImage(Layer& layer, const std::shared_ptr<const Image>& image, const Rect& box) {
    layer.setContents(image);
    if (!image || image->width() <= 0 || image->height() <= 0) {
        placeLayer(layer, box.midX(), box.midY(), 0.0, 0.0);
        return;
    }
    double w = image->width() / kImageScale;
    double h = image->height() / kImageScale;
    const double fit = std::min({1.0, box.size.width / w, box.size.height / h});
    w *= fit;
    h *= fit;
    placeLayer(layer, box.midX() - w * 0.5, box.midY() - h * 0.5, w, h);
}

// Inside the control for a finger that is tracking it: across its width, and within a generous
// band above and below (a mouse that leaves the strip upwards lets go).
bool insideItem(const Touch& t, Size size) {
    const Point p = t.location;
    return p.x >= 0.0 && p.x <= size.width && p.y >= -size.height && p.y <= 2.0 * size.height;
}

}  // namespace

void centerTextVertically(TextLayer& text, double x, double width, double midY) {
    const double fontSize = text.fontSize();
    const double baseline = midY - kFontCapHeight * fontSize * 0.5;
    const double height = (kFontAscent + kFontDescent) * fontSize;
    placeLayer(text, x, baseline + kFontAscent * fontSize - height, width, height);
}

// --- BarItem --------------------------------------------------------------------------------

BarItem::BarItem(std::string identifier, LayerPtr layer)
    : identifier_(std::move(identifier)), layer_(layer ? std::move(layer) : Layer::create()) {}

void BarItem::setFrame(const Rect& frame) {
    frame_ = frame;
    layer_->setFrame(frame);
    layoutContents(frame.size);
}

// --- Bar ------------------------------------------------------------------------------------

Bar::Bar() : root_(plainLayer()) { root_->setBackgroundColor(kBarBackground); }

void Bar::setDefaultItemIdentifiers(std::vector<std::string> identifiers) {
    identifiers_ = std::move(identifiers);
    std::vector<BarItemPtr> items;
    for (const std::string& identifier : identifiers_) {
        BarItemPtr item = delegate_ ? delegate_(identifier) : nullptr;
        if (item) items.push_back(std::move(item));
    }
    setItems(std::move(items));
}

void Bar::setItems(std::vector<BarItemPtr> items) {
    items_ = std::move(items);
    std::vector<LayerPtr> layers;
    layers.reserve(items_.size());
    for (const BarItemPtr& item : items_) layers.push_back(item->layer());
    root_->setSublayers(std::move(layers));

    // A finger on an item that left the bar is gone for that item: cancel it, so that nothing
    // it started (a voice, a drag) is left hanging. Its later events go nowhere.
    std::vector<Owner> leaving;
    for (auto it = owners_.begin(); it != owners_.end();) {
        if (std::find(items_.begin(), items_.end(), it->item) == items_.end()) {
            leaving.push_back(std::move(*it));
            it = owners_.erase(it);
        } else {
            ++it;
        }
    }
    dirty_ = true;
    relayout();
    for (const Owner& o : leaving) o.item->touchCancelled(toItem(o.last, *o.item));
}

const LayerPtr& Bar::layout(Size size) {
    if (size != size_ || dirty_) {
        size_ = size;
        relayout();
    }
    return root_;
}

double Bar::minimumWidth(const std::vector<BarItemPtr>& items) {
    if (items.size() == 1 && items.front()->fillsBar()) return 0.0;
    double width = 2.0 * kEdgeInset + kItemSpacing * std::max(0.0, double(items.size()) - 1.0);
    for (const BarItemPtr& item : items) width += item->smallestWidth();
    return width;
}

void Bar::relayout() {
    dirty_ = false;
    root_->setBounds(Rect::make(0.0, 0.0, size_.width, size_.height));
    root_->setPosition({0.0, 0.0});
    if (items_.size() == 1 && items_.front()->fillsBar()) {
        items_.front()->setFrame(Rect::make(0.0, 0.0, size_.width, size_.height));
        return;
    }
    const double n = static_cast<double>(items_.size());
    const double room = size_.width - 2.0 * kEdgeInset - kItemSpacing * std::max(0.0, n - 1.0);
    double fixed = 0.0;
    int flexible = 0;
    for (const BarItemPtr& item : items_) {
        if (item->isFlexible()) {
            ++flexible;
        } else {
            fixed += item->preferredWidth();
        }
    }
    const double share = flexible > 0 ? (room - fixed) / flexible : 0.0;
    std::vector<double> widths;
    double total = 0.0;
    for (const BarItemPtr& item : items_) {
        widths.push_back(item->isFlexible()
                             ? std::clamp(share, item->minimumWidth(), item->maximumWidth())
                             : item->preferredWidth());
        total += widths.back();
    }
    // Too narrow: each rank of items gives up width in proportion to what it can spare, down to
    // its smallest, before the next rank is touched.
    double excess = total - room;
    for (int order = 0; order <= 2 && excess > 0.0; ++order) {
        double spare = 0.0;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i]->shrinkOrder() == order) {
                spare += std::max(0.0, widths[i] - items_[i]->smallestWidth());
            }
        }
        if (!(spare > 0.0)) continue;
        const double part = std::min(1.0, excess / spare);
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i]->shrinkOrder() == order) {
                widths[i] -= std::max(0.0, widths[i] - items_[i]->smallestWidth()) * part;
            }
        }
        excess -= std::min(excess, spare);
    }
    double x = kEdgeInset;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        items_[i]->setFrame(Rect::make(x, 0.0, widths[i], size_.height));
        x += widths[i] + kItemSpacing;
    }
}

Touch Bar::toItem(const Touch& touch, const BarItem& item) {
    const Point o = item.frame().origin;
    Touch local = touch;
    local.location = Point{touch.location.x - o.x, touch.location.y - o.y};
    local.previousLocation = Point{touch.previousLocation.x - o.x, touch.previousLocation.y - o.y};
    return local;
}

void Bar::touch(TouchPhase phase, const Touch& touch) {
    auto owner = std::find_if(owners_.begin(), owners_.end(),
                              [&](const Owner& o) { return o.identity == touch.identity; });
    if (phase == TouchPhase::Began) {
        if (owner != owners_.end()) {
            logf("strip: finger %llu began again without ending; its first touch is cancelled",
                 static_cast<unsigned long long>(touch.identity));
            const Owner old = std::move(*owner);
            owners_.erase(owner);
            old.item->touchCancelled(toItem(touch, *old.item));
        }
        // Top-most first. Items span the strip's height, so x alone picks one.
        const std::vector<BarItemPtr> items = items_;
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            const Rect& f = (*it)->frame();
            if (touch.location.x < f.minX() || touch.location.x >= f.maxX()) continue;
            if ((*it)->touchBegan(toItem(touch, **it))) {
                owners_.push_back(Owner{touch.identity, *it, touch});
                return;
            }
        }
        return;
    }
    if (owner == owners_.end()) return;  // a finger no item holds
    if (phase == TouchPhase::Moved) {
        owner->last = touch;
        BarItemPtr item = owner->item;  // the item may leave the bar while it handles this
        item->touchMoved(toItem(touch, *item));
        return;
    }
    const BarItemPtr item = owner->item;
    owners_.erase(owner);
    if (phase == TouchPhase::Ended) {
        item->touchEnded(toItem(touch, *item));
    } else {
        item->touchCancelled(toItem(touch, *item));
    }
}

void Bar::cancelAllTouches() {
    std::vector<Owner> owners = std::move(owners_);
    owners_.clear();
    for (const Owner& o : owners) o.item->touchCancelled(toItem(o.last, *o.item));
}

// --- CustomItem -----------------------------------------------------------------------------

CustomItem::CustomItem(std::string identifier, LayerPtr viewLayer, TouchHandler handler)
    : BarItem(std::move(identifier), std::move(viewLayer)), handler_(std::move(handler)) {}

bool CustomItem::touchBegan(const Touch& t) {
    if (handler_) handler_(TouchPhase::Began, t);
    return true;  // the view takes every finger that lands on it, handled or not
}

void CustomItem::touchMoved(const Touch& t) {
    if (handler_) handler_(TouchPhase::Moved, t);
}

void CustomItem::touchEnded(const Touch& t) {
    if (handler_) handler_(TouchPhase::Ended, t);
}

void CustomItem::touchCancelled(const Touch& t) {
    if (handler_) handler_(TouchPhase::Cancelled, t);
}

// --- Button ---------------------------------------------------------------------------------

Button::Button(std::string identifier) : BarItem(std::move(identifier)) {
    layer()->setAnchorPoint({0.0, 0.0});
    bezel_->setBackgroundColor(kBezelColor);
    bezel_->setCornerRadius(kCornerRadius);
    titleLayer_->setFontSize(kTitleFontSize);
    titleLayer_->setForegroundColor(kLabelColor);
    titleLayer_->setAlignmentMode(TextAlignment::Center);
    layer()->setSublayers({bezel_, imageLayer_, titleLayer_});
}

void Button::setImage(std::shared_ptr<const Image> image) {
    image_ = std::move(image);
    layoutContents(size());
}

void Button::setTitle(std::string title) {
    titleLayer_->setString(std::move(title));
    layoutContents(size());
}

const std::string& Button::title() const { return titleLayer_->string(); }

void Button::layoutContents(Size size) {
    placeLayer(*bezel_, 0.0, 0.0, size.width, size.height);
    placeImage(*imageLayer_, image_, Rect::make(0.0, 0.0, size.width, size.height));
    centerTextVertically(*titleLayer_, 0.0, size.width, size.height * 0.5);
}

void Button::setHighlighted(bool on) {
    highlighted_ = on;
    bezel_->setBackgroundColor(on ? kPressedBezelColor : kBezelColor);
}

bool Button::inside(const Touch& t) const { return insideItem(t, size()); }

bool Button::touchBegan(const Touch& t) {
    if (tracking_ != kNoTouch) return false;  // one finger at a time
    tracking_ = t.identity;
    setHighlighted(true);
    return true;
}

void Button::touchMoved(const Touch& t) {
    if (t.identity == tracking_) setHighlighted(inside(t));
}

void Button::touchEnded(const Touch& t) {
    if (t.identity != tracking_) return;
    tracking_ = kNoTouch;
    setHighlighted(false);
    if (inside(t) && action_) action_();
}

void Button::touchCancelled(const Touch& t) {
    if (t.identity != tracking_) return;
    tracking_ = kNoTouch;
    setHighlighted(false);
}

// --- SegmentedControl -----------------------------------------------------------------------

SegmentedControl::SegmentedControl(std::string identifier) : BarItem(std::move(identifier)) {
    layer()->setAnchorPoint({0.0, 0.0});
    background_->setBackgroundColor(kBezelColor);
    background_->setCornerRadius(kCornerRadius);
    layer()->addSublayer(background_);
}

void SegmentedControl::setSegmentCount(int count) {
    count = std::max(0, count);
    segments_.resize(static_cast<std::size_t>(count));
    std::vector<LayerPtr> layers{background_};
    for (const Segment& s : segments_) {
        s.bezel->setCornerRadius(kCornerRadius);
        layers.push_back(s.bezel);
        layers.push_back(s.image);
    }
    layer()->setSublayers(std::move(layers));
    if (selected_ >= count) selected_ = -1;
    pressed_ = began_ = -1;
    layoutContents(size());
}

void SegmentedControl::setSelectedSegment(int segment) {
    selected_ = segment >= 0 && segment < segmentCount() ? segment : -1;
    restyle();
}

void SegmentedControl::setSelectedSegmentBezelColor(const Color& color) {
    selectedBezel_ = color;
    restyle();
}

void SegmentedControl::setImage(std::shared_ptr<const Image> image, int segment) {
    if (segment < 0 || segment >= segmentCount()) return;
    segments_[static_cast<std::size_t>(segment)].picture = std::move(image);
    layoutContents(size());
}

std::shared_ptr<const Image> SegmentedControl::imageForSegment(int segment) const {
    if (segment < 0 || segment >= segmentCount()) return nullptr;
    return segments_[static_cast<std::size_t>(segment)].picture;
}

int SegmentedControl::segmentAt(double x) const {
    const Size s = size();
    if (segments_.empty() || s.width <= 0.0 || x < 0.0 || x >= s.width) return -1;
    const int i = static_cast<int>(x / (s.width / segmentCount()));
    return std::min(i, segmentCount() - 1);
}

void SegmentedControl::layoutContents(Size size) {
    placeLayer(*background_, 0.0, 0.0, size.width, size.height);
    const double w = segments_.empty() ? 0.0 : size.width / segmentCount();
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const Rect box = Rect::make(w * static_cast<double>(i), 0.0, w, size.height);
        placeLayer(*segments_[i].bezel, box.minX(), 0.0, w, size.height);
        placeImage(*segments_[i].image, segments_[i].picture, box);
    }
    restyle();
}

void SegmentedControl::restyle() {
    for (int i = 0; i < segmentCount(); ++i) {
        Color c = Color::clear();
        if (i == selected_) c = selectedBezel_;
        if (i == pressed_) c = kPressedBezelColor;
        segments_[static_cast<std::size_t>(i)].bezel->setBackgroundColor(c);
    }
}

bool SegmentedControl::touchBegan(const Touch& t) {
    if (tracking_ != kNoTouch) return false;
    const int segment = segmentAt(t.location.x);
    if (segment < 0) return false;
    tracking_ = t.identity;
    began_ = pressed_ = segment;
    restyle();
    return true;
}

void SegmentedControl::touchMoved(const Touch& t) {
    if (t.identity != tracking_) return;
    const bool inside = insideItem(t, size()) && segmentAt(t.location.x) == began_;
    pressed_ = inside ? began_ : -1;
    restyle();
}

void SegmentedControl::touchEnded(const Touch& t) {
    if (t.identity != tracking_) return;
    const bool inside = insideItem(t, size()) && segmentAt(t.location.x) == began_;
    const int segment = began_;
    tracking_ = kNoTouch;
    pressed_ = began_ = -1;
    if (inside) {
        selected_ = segment;
        restyle();
        if (action_) action_();
    } else {
        restyle();
    }
}

void SegmentedControl::touchCancelled(const Touch& t) {
    if (t.identity != tracking_) return;
    tracking_ = kNoTouch;
    pressed_ = began_ = -1;
    restyle();
}

// --- Slider ---------------------------------------------------------------------------------

Slider::Slider(std::string identifier) : BarItem(std::move(identifier)) {
    layer()->setAnchorPoint({0.0, 0.0});
    track_->setBackgroundColor(kTrackColor);
    track_->setCornerRadius(kTrackHeight * 0.5);
    fill_->setBackgroundColor(fillColor_);
    fill_->setCornerRadius(kTrackHeight * 0.5);
    knob_->setBackgroundColor(kKnobColor);
    knob_->setCornerRadius(kKnobWidth * 0.5);
    layer()->setSublayers({accessoryLayer_, track_, fill_, knob_});
}

double Slider::clamped(double value) const {
    if (!(max_ >= min_)) return min_;
    return std::clamp(value, min_, max_);
}

void Slider::setDoubleValue(double value) {
    if (std::isnan(value)) return;
    value_ = clamped(value);
    redraw();
}

void Slider::setMinValue(double value) {
    if (std::isnan(value)) return;
    min_ = value;
    value_ = clamped(value_);
    redraw();
}

void Slider::setMaxValue(double value) {
    if (std::isnan(value)) return;
    max_ = value;
    value_ = clamped(value_);
    redraw();
}

void Slider::setTrackFillColor(const Color& color) {
    fillColor_ = color;
    fill_->setBackgroundColor(color);
}

void Slider::setMinimumValueAccessory(std::shared_ptr<const Image> image) {
    accessory_ = std::move(image);
    layoutContents(size());
}

double Slider::trackStart() const {
    const double accessory = accessory_ ? kAccessorySize : 0.0;
    return accessory + kKnobWidth * 0.5 + 2.0;
}

double Slider::trackEnd() const {
    return std::max(trackStart(), size().width - kKnobWidth * 0.5 - 2.0);
}

double Slider::knobCenterX() const {
    const double span = max_ - min_;
    const double fraction = span > 0.0 ? (value_ - min_) / span : 0.0;
    return trackStart() + fraction * (trackEnd() - trackStart());
}

double Slider::valueAtX(double x) const {
    const double length = trackEnd() - trackStart();
    if (!(length > 0.0) || !(max_ > min_)) return clamped(min_);
    const double fraction = std::clamp((x - trackStart()) / length, 0.0, 1.0);
    if (fraction >= 1.0) return max_;
    return clamped(min_ + fraction * (max_ - min_));
}

void Slider::layoutContents(Size size) {
    if (accessory_) {
        placeLayer(*accessoryLayer_, 0.0, (size.height - kAccessorySize) * 0.5, kAccessorySize,
                   kAccessorySize);
    } else {
        placeLayer(*accessoryLayer_, 0.0, 0.0, 0.0, 0.0);
    }
    accessoryLayer_->setContents(accessory_);
    redraw();
}

void Slider::redraw() {
    const double midY = size().height * 0.5;
    const double y = midY - kTrackHeight * 0.5;
    placeLayer(*track_, trackStart(), y, trackEnd() - trackStart(), kTrackHeight);
    const double knob = knobCenterX();
    placeLayer(*fill_, trackStart(), y, knob - trackStart(), kTrackHeight);
    placeLayer(*knob_, knob - kKnobWidth * 0.5, midY - kKnobHeight * 0.5, kKnobWidth, kKnobHeight);
}

void Slider::follow(double x) {
    const double value = valueAtX(x);
    if (value == value_) return;
    value_ = value;
    redraw();
    if (action_) action_();
}

bool Slider::touchBegan(const Touch& t) {
    if (tracking_ != kNoTouch) return false;
    const double x = t.location.x;
    if (x < trackStart() - kKnobWidth * 0.5 - kKnobGrabSlop) return false;  // the icon
    tracking_ = t.identity;
    const double knob = knobCenterX();
    if (std::fabs(x - knob) <= kKnobWidth * 0.5 + kKnobGrabSlop) {
        grabOffset_ = knob - x;  // drag the knob from where it is
    } else {
        grabOffset_ = 0.0;
        follow(x);
    }
    return true;
}

void Slider::touchMoved(const Touch& t) {
    if (t.identity == tracking_) follow(t.location.x + grabOffset_);
}

void Slider::touchEnded(const Touch& t) {
    if (t.identity == tracking_) tracking_ = kNoTouch;
}

void Slider::touchCancelled(const Touch& t) {
    if (t.identity == tracking_) tracking_ = kNoTouch;
}

// --- Stepper --------------------------------------------------------------------------------

Stepper::Stepper(std::string identifier, std::unique_ptr<Formatter> formatter)
    : BarItem(std::move(identifier)),
      formatter_(formatter ? std::move(formatter) : std::make_unique<DisabledFormatter>()) {
    layer()->setAnchorPoint({0.0, 0.0});
    background_->setBackgroundColor(kBezelColor);
    background_->setCornerRadius(kCornerRadius);
    downBezel_->setCornerRadius(kCornerRadius);
    upBezel_->setCornerRadius(kCornerRadius);
    for (ShapeLayer* arrow : {downArrow_.get(), upArrow_.get()}) {
        arrow->setFillColor(Color::clear());
        arrow->setStrokeColor(kLabelColor);
        arrow->setLineWidth(kArrowLineWidth);
        arrow->setLineCap(LineCap::Round);
        arrow->setLineJoin(LineJoin::Round);
    }
    labelLayer_->setFontSize(kTitleFontSize);
    labelLayer_->setForegroundColor(kLabelColor);
    labelLayer_->setAlignmentMode(TextAlignment::Center);
    layer()->setSublayers({background_, downBezel_, upBezel_, downArrow_, upArrow_, labelLayer_});
    restyle();
}

void Stepper::setValue(double value) {
    if (std::isnan(value)) return;
    value_ = value;
    restyle();
}

void Stepper::setIncrement(double increment) {
    if (!(increment > 0.0) || std::isinf(increment)) return;
    increment_ = increment;
    restyle();
}

void Stepper::setMinValue(double value) {
    if (std::isnan(value)) return;
    min_ = value;
    restyle();
}

void Stepper::setMaxValue(double value) {
    if (std::isnan(value)) return;
    max_ = value;
    restyle();
}

std::string Stepper::label() const {
    return formatter_->stringForObjectValue(value_).value_or(std::string());
}

bool Stepper::canStep(int direction) const {
    if (!(max_ >= min_) || direction == 0) return false;
    return direction > 0 ? value_ < max_ : value_ > min_;
}

bool Stepper::step(int direction) {
    if (!canStep(direction)) return false;
    const double next = std::clamp(value_ + (direction > 0 ? increment_ : -increment_), min_, max_);
    if (next == value_) return false;
    value_ = next;
    restyle();
    if (action_) action_();
    return true;
}

int Stepper::arrowAt(double x) const {
    if (x < kStepperArrowWidth) return -1;
    if (x >= size().width - kStepperArrowWidth) return 1;
    return 0;
}

void Stepper::layoutContents(Size size) {
    const double w = size.width, h = size.height, midY = h * 0.5;
    placeLayer(*background_, 0.0, 0.0, w, h);
    placeLayer(*downBezel_, 0.0, 0.0, kStepperArrowWidth, h);
    placeLayer(*upBezel_, w - kStepperArrowWidth, 0.0, kStepperArrowWidth, h);
    for (auto [arrow, cx, sign] : {std::tuple{downArrow_.get(), kStepperArrowWidth * 0.5, -1.0},
                                   std::tuple{upArrow_.get(), w - kStepperArrowWidth * 0.5, 1.0}}) {
        placeLayer(*arrow, 0.0, 0.0, w, h);
        Path& p = arrow->editPath();
        p.clear();
        p.moveTo(cx - sign * kArrowDepth * 0.5, midY + kArrowHalfHeight);
        p.lineTo(cx + sign * kArrowDepth * 0.5, midY);
        p.lineTo(cx - sign * kArrowDepth * 0.5, midY - kArrowHalfHeight);
    }
    // A narrowed stepper keeps its arrows; its label's font shrinks until the widest fits.
    const double labelWidth = std::max(0.0, w - 2.0 * kStepperArrowWidth);
    labelLayer_->setFontSize(std::min(kTitleFontSize, labelWidth / kWidestLabelEms));
    centerTextVertically(*labelLayer_, kStepperArrowWidth, labelWidth, midY);
}

void Stepper::restyle() {
    labelLayer_->setString(label());
    setOpacityNow(*downArrow_, canStep(-1) ? 1.0f : kUnavailableOpacity);
    setOpacityNow(*upArrow_, canStep(1) ? 1.0f : kUnavailableOpacity);
    const bool pressed = tracking_ != kNoTouch && pressedInside_;
    downBezel_->setBackgroundColor(pressed && trackedArrow_ < 0 && canStep(-1) ? kPressedBezelColor
                                                                               : Color::clear());
    upBezel_->setBackgroundColor(pressed && trackedArrow_ > 0 && canStep(1) ? kPressedBezelColor
                                                                            : Color::clear());
}

bool Stepper::touchBegan(const Touch& t) {
    if (tracking_ != kNoTouch) return false;
    tracking_ = t.identity;
    trackedArrow_ = arrowAt(t.location.x);
    pressedInside_ = true;
    restyle();
    return true;
}

void Stepper::touchMoved(const Touch& t) {
    if (t.identity != tracking_) return;
    pressedInside_ = insideItem(t, size()) && arrowAt(t.location.x) == trackedArrow_;
    restyle();
}

void Stepper::touchEnded(const Touch& t) {
    if (t.identity != tracking_) return;
    const bool inside = insideItem(t, size()) && arrowAt(t.location.x) == trackedArrow_;
    const int arrow = trackedArrow_;
    tracking_ = kNoTouch;
    trackedArrow_ = 0;
    pressedInside_ = false;
    restyle();
    if (inside && arrow != 0) step(arrow);
}

void Stepper::touchCancelled(const Touch& t) {
    if (t.identity != tracking_) return;
    tracking_ = kNoTouch;
    trackedArrow_ = 0;
    pressedInside_ = false;
    restyle();
}

}  // namespace vornik
