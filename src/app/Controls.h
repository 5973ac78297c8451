#pragma once
// The strip's own controls, drawn with the layer tree and played by touches (the mouse arrives as
// a touch too): a bar of items laid out left to right, and the items it holds (button, segmented
// control, slider with an icon accessory, stepper with a formatter, and a custom item that shows
// another view, such as the instrument). Thread: main, for every call here.
//
// Touches. Every finger reaches the bar as began, moved, then ended or cancelled, with a stable
// identity and its location in strip points (origin bottom-left, y up). A touch belongs to the
// item that took it when it began; its later events go to that item wherever the finger goes.
// Items are asked top-most first: the last added first. Items receive touches in their own points
// (origin at the item's bottom-left).
//
// Actions. A control sends its action (a plain callback) when the user changes it; setting a
// value from code sends nothing.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Formatters.h"
#include "base/Touch.h"
#include "display/Color.h"
#include "display/Geometry.h"
#include "display/Image.h"
#include "display/Layer.h"

namespace vornik {

// --- Metrics of the strip's controls, in points -------------------------------------------------
namespace controls {
inline constexpr double kStripHeight = 30.0;  // the strip, and every item on it
inline constexpr double kItemSpacing = 8.0;   // between two items
inline constexpr double kEdgeInset = 8.0;     // before the first item and after the last
inline constexpr double kCornerRadius = 6.0;  // bezels of buttons, segments and steppers
inline constexpr double kButtonWidth = 64.0;
inline constexpr double kSegmentWidth = 44.0;
inline constexpr double kStepperWidth = 150.0;      // two arrows and the label between them
inline constexpr double kStepperArrowWidth = 30.0;  // each of the two arrows
inline constexpr double kSliderMinimumWidth = 100.0;
inline constexpr double kSliderMaximumWidth = 320.0;
// On a strip too narrow for the widths above, items shrink down to these (sliders first, then
// steppers, then the rest). A stepper keeps both arrows and shrinks its label's font; a slider
// keeps its icon and a short track; the bar pictures (30 points) still fit whole.
inline constexpr double kButtonSmallestWidth = 40.0;
inline constexpr double kSegmentSmallestWidth = 32.0;
inline constexpr double kStepperSmallestWidth = 110.0;
inline constexpr double kSliderSmallestWidth = 72.0;
// The widest stepper label ("auto slice") is under this many ems of the system font.
inline constexpr double kWidestLabelEms = 5.0;
inline constexpr double kAccessorySize = 30.0;  // the slider's icon, square
inline constexpr double kTrackHeight = 4.0;
inline constexpr double kKnobWidth = 14.0;
inline constexpr double kKnobHeight = 24.0;
inline constexpr double kKnobGrabSlop = 6.0;  // a touch this close to the knob drags it
inline constexpr double kTitleFontSize = 14.0;
inline constexpr double kImageScale = 2.0;  // pixels per point of the bar images ("@2x")

inline constexpr Color kBarBackground = Color::black();
inline constexpr Color kBezelColor = Color::white(0.21);
inline constexpr Color kPressedBezelColor = Color::white(0.4);
inline constexpr Color kTrackColor = Color::white(0.35);
inline constexpr Color kKnobColor = Color::white(0.92);
inline constexpr Color kLabelColor = Color::white(1.0);
inline constexpr float kUnavailableOpacity = 0.35f;  // arrows of a stepper at its limit
}  // namespace controls

enum class TouchPhase { Began, Moved, Ended, Cancelled };

// One item of a bar. Its layer is what the bar shows; the bar sets the item's frame.
class BarItem {
public:
    explicit BarItem(std::string identifier, LayerPtr layer = Layer::create());
    virtual ~BarItem() = default;
    BarItem(const BarItem&) = delete;
    BarItem& operator=(const BarItem&) = delete;

    const std::string& identifier() const { return identifier_; }
    const LayerPtr& layer() const { return layer_; }

    // Widths the item wants. An item whose minimum and maximum differ shares the room the fixed
    // items leave. An item that fills the bar, alone on it, covers the whole strip.
    virtual double preferredWidth() const = 0;
    virtual double minimumWidth() const { return preferredWidth(); }
    virtual double maximumWidth() const { return preferredWidth(); }
    virtual bool fillsBar() const { return false; }
    // When the strip is too narrow for every item's minimum: the narrowest the item still works
    // at, and when it gives way (items of order 0 shrink first, then 1, then 2).
    virtual double smallestWidth() const { return minimumWidth(); }
    virtual int shrinkOrder() const { return 2; }
    bool isFlexible() const { return maximumWidth() > minimumWidth(); }

    // Where the bar put the item, in strip points.
    const Rect& frame() const { return frame_; }
    void setFrame(const Rect& frame);

    // Touches in the item's own points. touchBegan says whether the item takes the touch; only
    // a taken touch gets the other three.
    virtual bool touchBegan(const Touch&) { return false; }
    virtual void touchMoved(const Touch&) {}
    virtual void touchEnded(const Touch&) {}
    virtual void touchCancelled(const Touch&) {}

    // What a control does when the user changes it. sendAction runs it as a touch would
    // (scripted performances set controls this way).
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    void sendAction() {
        if (action_) action_();
    }

protected:
    // Lays the item's sublayers out for its size.
    virtual void layoutContents(Size) {}
    Size size() const { return frame_.size; }

    std::function<void()> action_;

private:
    std::string identifier_;
    LayerPtr layer_;
    Rect frame_;
};

using BarItemPtr = std::shared_ptr<BarItem>;

// The items on the strip, left to right, and the touches among them.
class Bar {
public:
    // Makes (or finds) the item for an identifier; null for an identifier it does not know.
    using Delegate = std::function<BarItemPtr(const std::string& identifier)>;

    Bar();
    Bar(const Bar&) = delete;
    Bar& operator=(const Bar&) = delete;

    void setDelegate(Delegate delegate) { delegate_ = std::move(delegate); }

    // The items by identifier, asked of the delegate at once; unknown identifiers are left out.
    void setDefaultItemIdentifiers(std::vector<std::string> identifiers);
    const std::vector<std::string>& defaultItemIdentifiers() const { return identifiers_; }
    // Sets the items directly. Touches held by items that leave the bar are cancelled.
    void setItems(std::vector<BarItemPtr> items);
    const std::vector<BarItemPtr>& items() const { return items_; }

    // Lays the items out across a strip of `size` points (again only when something changed),
    // and returns the root of the bar's layers: the strip's background with the items on it.
    // Items shrink to fit as far as their smallest widths allow.
    const LayerPtr& layout(Size size);
    // The narrowest strip, in points, on which `items` fit at their smallest widths.
    static double minimumWidth(const std::vector<BarItemPtr>& items);
    const LayerPtr& layer() const { return root_; }
    Size size() const { return size_; }

    // Strip touches (strip points).
    void touch(TouchPhase phase, const Touch& touch);
    void touchBegan(const Touch& t) { touch(TouchPhase::Began, t); }
    void touchMoved(const Touch& t) { touch(TouchPhase::Moved, t); }
    void touchEnded(const Touch& t) { touch(TouchPhase::Ended, t); }
    void touchCancelled(const Touch& t) { touch(TouchPhase::Cancelled, t); }
    // Cancels every touch an item holds (the strip lost its fingers).
    void cancelAllTouches();
    // Touches now held by items.
    std::size_t trackedTouchCount() const { return owners_.size(); }

private:
    struct Owner {
        TouchId identity;
        BarItemPtr item;
        Touch last;  // in strip points, for a cancel the bar makes itself
    };
    void relayout();
    static Touch toItem(const Touch& touch, const BarItem& item);

    Delegate delegate_;
    std::vector<std::string> identifiers_;
    std::vector<BarItemPtr> items_;
    std::vector<Owner> owners_;
    LayerPtr root_;
    Size size_;
    bool dirty_ = true;
};

// A view of someone else's (the instrument): its layer spans the item, touches go to a handler.
class CustomItem final : public BarItem {
public:
    using TouchHandler = std::function<void(TouchPhase, const Touch&)>;
    CustomItem(std::string identifier, LayerPtr viewLayer, TouchHandler handler = {});

    void setTouchHandler(TouchHandler handler) { handler_ = std::move(handler); }
    double preferredWidth() const override { return controls::kSliderMinimumWidth; }
    double maximumWidth() const override { return 1e9; }
    bool fillsBar() const override { return true; }

    bool touchBegan(const Touch& t) override;
    void touchMoved(const Touch& t) override;
    void touchEnded(const Touch& t) override;
    void touchCancelled(const Touch& t) override;

private:
    TouchHandler handler_;
};

// A push button showing an image (drawn at half its pixel size) or a title. The action runs when
// a touch lifts inside the button.
class Button final : public BarItem {
public:
    explicit Button(std::string identifier);

    bool hasAction() const { return static_cast<bool>(action_); }
    void setImage(std::shared_ptr<const Image> image);
    const std::shared_ptr<const Image>& image() const { return image_; }
    void setTitle(std::string title);
    const std::string& title() const;
    bool isHighlighted() const { return highlighted_; }

    double preferredWidth() const override { return controls::kButtonWidth; }
    double smallestWidth() const override { return controls::kButtonSmallestWidth; }
    bool touchBegan(const Touch& t) override;
    void touchMoved(const Touch& t) override;
    void touchEnded(const Touch& t) override;
    void touchCancelled(const Touch& t) override;

protected:
    void layoutContents(Size size) override;

private:
    void setHighlighted(bool on);
    bool inside(const Touch& t) const;

    std::shared_ptr<const Image> image_;
    LayerPtr bezel_ = Layer::create();
    LayerPtr imageLayer_ = Layer::create();
    std::shared_ptr<TextLayer> titleLayer_ = TextLayer::create();
    bool highlighted_ = false;
    TouchId tracking_ = kNoTouch;
};

// Segments side by side, one selected. A touch that lifts inside the segment where it began
// selects that segment and sends the action (also when it was selected already).
class SegmentedControl final : public BarItem {
public:
    explicit SegmentedControl(std::string identifier);

    void setSegmentCount(int count);
    int segmentCount() const { return static_cast<int>(segments_.size()); }
    // -1 for none; a number outside the segments selects none.
    void setSelectedSegment(int segment);
    int selectedSegment() const { return selected_; }
    void setSelectedSegmentBezelColor(const Color& color);
    const Color& selectedSegmentBezelColor() const { return selectedBezel_; }
    void setImage(std::shared_ptr<const Image> image, int segment);
    std::shared_ptr<const Image> imageForSegment(int segment) const;
    // The segment under x (item points), or -1.
    int segmentAt(double x) const;

    double preferredWidth() const override { return controls::kSegmentWidth * segmentCount(); }
    double smallestWidth() const override {
        return controls::kSegmentSmallestWidth * segmentCount();
    }
    bool touchBegan(const Touch& t) override;
    void touchMoved(const Touch& t) override;
    void touchEnded(const Touch& t) override;
    void touchCancelled(const Touch& t) override;

protected:
    void layoutContents(Size size) override;

private:
    struct Segment {
        LayerPtr bezel = Layer::create();
        LayerPtr image = Layer::create();
        std::shared_ptr<const Image> picture;
    };
    void restyle();

    std::vector<Segment> segments_;
    LayerPtr background_ = Layer::create();
    int selected_ = -1;
    int pressed_ = -1;  // the segment a touch began in, while it is inside it
    int began_ = -1;
    Color selectedBezel_ = controls::kPressedBezelColor;
    TouchId tracking_ = kNoTouch;
};

// A horizontal slider: an optional icon at its minimum end, a track filled up to the knob in the
// track fill colour, and the knob. Touching the knob drags it from where it is; touching the
// track elsewhere puts the knob there first. The action runs on every change of value.
class Slider final : public BarItem {
public:
    explicit Slider(std::string identifier);

    // The value, held within the range (a range whose ends are the wrong way round holds it at
    // the minimum). Values that are not numbers are ignored.
    double doubleValue() const { return value_; }
    void setDoubleValue(double value);
    double minValue() const { return min_; }
    void setMinValue(double value);
    double maxValue() const { return max_; }
    void setMaxValue(double value);
    const Color& trackFillColor() const { return fillColor_; }
    void setTrackFillColor(const Color& color);
    // The icon at the minimum end, drawn kAccessorySize points square; null for none.
    void setMinimumValueAccessory(std::shared_ptr<const Image> image);
    const std::shared_ptr<const Image>& minimumValueAccessory() const { return accessory_; }

    // Where the knob's centre is for the current value, and the value for a knob centre at x
    // (item points).
    double knobCenterX() const;
    double valueAtX(double x) const;
    bool isTracking() const { return tracking_ != kNoTouch; }

    double preferredWidth() const override { return 2.0 * controls::kSliderMinimumWidth; }
    double minimumWidth() const override { return controls::kSliderMinimumWidth; }
    double maximumWidth() const override { return controls::kSliderMaximumWidth; }
    double smallestWidth() const override { return controls::kSliderSmallestWidth; }
    int shrinkOrder() const override { return 0; }
    bool touchBegan(const Touch& t) override;
    void touchMoved(const Touch& t) override;
    void touchEnded(const Touch& t) override;
    void touchCancelled(const Touch& t) override;

protected:
    void layoutContents(Size size) override;

private:
    double trackStart() const;
    double trackEnd() const;
    double clamped(double value) const;
    // Moves the knob for the finger at x; sends the action when the value changed.
    void follow(double x);
    void redraw();

    double value_ = 0.0;
    double min_ = 0.0;
    double max_ = 1.0;
    Color fillColor_ = Color::white(1.0);
    std::shared_ptr<const Image> accessory_;
    LayerPtr accessoryLayer_ = Layer::create();
    LayerPtr track_ = Layer::create();
    LayerPtr fill_ = Layer::create();
    LayerPtr knob_ = Layer::create();
    TouchId tracking_ = kNoTouch;
    double grabOffset_ = 0.0;  // knob centre minus finger x while dragging
};

// A stepper: a decrement arrow, the value's label from the formatter, an increment arrow. A tap
// on an arrow steps the value by the increment within the range and sends the action when the
// value changed. The value does not wrap; a range whose maximum is below its minimum cannot be
// stepped.
class Stepper final : public BarItem {
public:
    Stepper(std::string identifier, std::unique_ptr<Formatter> formatter);

    bool hasAction() const { return static_cast<bool>(action_); }
    double value() const { return value_; }
    void setValue(double value);
    double increment() const { return increment_; }
    void setIncrement(double increment);
    double minValue() const { return min_; }
    void setMinValue(double value);
    double maxValue() const { return max_; }
    void setMaxValue(double value);
    const Formatter& formatter() const { return *formatter_; }
    // What the stepper shows: the formatter's text for the value, empty for none.
    std::string label() const;

    // Steps by one increment up (+1) or down (-1), as a tap on an arrow does, action included.
    // Returns whether the value changed.
    bool step(int direction);
    bool canStep(int direction) const;

    double preferredWidth() const override { return controls::kStepperWidth; }
    double smallestWidth() const override { return controls::kStepperSmallestWidth; }
    int shrinkOrder() const override { return 1; }
    bool touchBegan(const Touch& t) override;
    void touchMoved(const Touch& t) override;
    void touchEnded(const Touch& t) override;
    void touchCancelled(const Touch& t) override;

protected:
    void layoutContents(Size size) override;

private:
    int arrowAt(double x) const;  // -1 decrement, +1 increment, 0 the label
    void restyle();

    std::unique_ptr<Formatter> formatter_;
    double value_ = 0.0;
    double increment_ = 1.0;
    double min_ = 0.0;
    double max_ = 100.0;
    LayerPtr background_ = Layer::create();
    LayerPtr downBezel_ = Layer::create();
    LayerPtr upBezel_ = Layer::create();
    std::shared_ptr<ShapeLayer> downArrow_ = ShapeLayer::create();
    std::shared_ptr<ShapeLayer> upArrow_ = ShapeLayer::create();
    std::shared_ptr<TextLayer> labelLayer_ = TextLayer::create();
    TouchId tracking_ = kNoTouch;
    int trackedArrow_ = 0;
    bool pressedInside_ = false;
};

// Places a one-line text layer so that its capitals sit centred on `midY` (font metrics of the
// system font).
void centerTextVertically(TextLayer& text, double x, double width, double midY);

}  // namespace vornik
