#include "app/BarImages.h"

#include <string_view>
#include <system_error>

#include "display/Layer.h"
#include "display/Renderer.h"

namespace vornik {

using namespace barimages;

namespace {

constexpr double kCanvas = kStandInPixels / 2.0;  // points
constexpr double kStroke = 1.5;
constexpr double kDimmedAlpha = 0.4;     // the unselected play-mode pictures
constexpr double kKappa = 0.5522847498;  // a quarter circle as a cubic curve

void circle(Path& p, double cx, double cy, double r) {
    const double k = r * kKappa;
    p.moveTo(cx + r, cy);
    p.curveTo(cx + r, cy + k, cx + k, cy + r, cx, cy + r);
    p.curveTo(cx - k, cy + r, cx - r, cy + k, cx - r, cy);
    p.curveTo(cx - r, cy - k, cx - k, cy - r, cx, cy - r);
    p.curveTo(cx + k, cy - r, cx + r, cy - k, cx + r, cy);
}

bool endsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool startsWith(std::string_view s, std::string_view head) {
    return s.substr(0, head.size()) == head;
}

}  // namespace

BarImages::BarImages(std::filesystem::path directory) : directory_(std::move(directory)) {}

std::shared_ptr<const Image> BarImages::image(const std::string& name) { return entry(name).image; }

bool BarImages::fromFile(const std::string& name) { return entry(name).fromFile; }

const BarImages::Entry& BarImages::entry(const std::string& name) {
    auto found = cache_.find(name);
    if (found != cache_.end()) return found->second;
    Entry e;
    std::error_code error;
    const std::filesystem::path file = directory_ / (name + ".png");
    if (!directory_.empty() && std::filesystem::is_regular_file(file, error)) {
        // A file that is there but unreadable is worth a line (loadPng writes it).
        std::shared_ptr<Image> loaded = Image::loadPng(file.string());
        if (loaded && loaded->width() > 0 && loaded->height() > 0) {
            e.image = std::move(loaded);
            e.fromFile = true;
        }
    }
    if (!e.image) e.image = drawStandIn(name);
    return cache_.emplace(name, std::move(e)).first->second;
}

std::shared_ptr<Image> BarImages::drawStandIn(const std::string& name) {
    auto canvas = Layer::create();
    canvas->setBounds(Rect::make(0.0, 0.0, kCanvas, kCanvas));
    auto shape = ShapeLayer::create();
    shape->setAnchorPoint({0.0, 0.0});
    shape->setBounds(Rect::make(0.0, 0.0, kCanvas, kCanvas));
    const Color ink = Color::white(1.0, endsWith(name, ".disabled@2x") ? kDimmedAlpha : 1.0);
    shape->setStrokeColor(ink);
    shape->setFillColor(Color::clear());
    shape->setLineWidth(kStroke);
    shape->setLineCap(LineCap::Round);
    shape->setLineJoin(LineJoin::Round);
    canvas->addSublayer(shape);
    Path& p = shape->editPath();

    if (startsWith(name, "effects")) {  // a wave
        p.moveTo(2, 9);
        p.curveTo(5, 17, 7, 17, 9, 9);
        p.curveTo(11, 1, 13, 1, 16, 9);
    } else if (startsWith(name, "controls")) {  // three faders
        for (auto [y, knob] : {std::pair{4.5, 6.0}, {9.0, 12.0}, {13.5, 8.0}}) {
            p.moveTo(2, y);
            p.lineTo(16, y);
            auto dot = Layer::create();
            dot->setBounds(Rect::make(0, 0, 4.5, 4.5));
            dot->setCornerRadius(2.25);
            dot->setPosition({knob, y});
            dot->setBackgroundColor(ink);
            canvas->addSublayer(dot);
        }
    } else if (startsWith(name, "slicer")) {  // a bar cut into three
        p.moveTo(2, 4);
        p.lineTo(16, 4);
        p.lineTo(16, 14);
        p.lineTo(2, 14);
        p.closePath();
        p.moveTo(6.7, 4);
        p.lineTo(6.7, 14);
        p.moveTo(11.3, 4);
        p.lineTo(11.3, 14);
    } else if (startsWith(name, "looper")) {  // a loop with its arrow
        circle(p, 9, 9, 6);
        p.moveTo(7, 17);
        p.lineTo(9.5, 15);
        p.lineTo(7, 13);
    } else if (startsWith(name, "bow")) {  // a bow drawn across
        p.moveTo(2, 5);
        p.curveTo(6, 15, 12, 15, 16, 5);
        p.moveTo(2, 5);
        p.lineTo(16, 5);
    } else if (startsWith(name, "tape")) {  // two reels over the tape
        circle(p, 5.5, 10.5, 3.5);
        circle(p, 12.5, 10.5, 3.5);
        p.moveTo(2, 3.5);
        p.lineTo(16, 3.5);
    } else {  // a name with no picture of its own
        p.moveTo(4, 4);
        p.lineTo(14, 4);
        p.lineTo(14, 14);
        p.lineTo(4, 14);
        p.closePath();
    }
    return renderLayerToImage(*canvas, 2.0);
}

}  // namespace vornik
