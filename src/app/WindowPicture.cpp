#include "app/WindowPicture.h"

#include <algorithm>
#include <cmath>

#include "app/AppConstants.h"
#include "display/Transaction.h"

namespace vornik {

PictureLayout::PictureLayout(Size windowSize, double stripHeight, Size pictureSize)
    : picture_(pictureSize) {
    const double areaWidth = std::max(windowSize.width, 0.0);
    const double areaHeight = std::max(windowSize.height - stripHeight, 0.0);
    if (pictureSize.width <= 0.0 || pictureSize.height <= 0.0) {
        rect_ = Rect::make(0.0, 0.0, areaWidth, areaHeight);
        return;
    }
    scale_ = std::min(areaWidth / pictureSize.width, areaHeight / pictureSize.height);
    const double w = pictureSize.width * scale_;
    const double h = pictureSize.height * scale_;
    rect_ = Rect::make((areaWidth - w) / 2.0, (areaHeight - h) / 2.0, w, h);
}

Point PictureLayout::toPicture(double x, double y) const {
    if (scale_ <= 0.0) return Point{-1.0, -1.0};
    return Point{(x - rect_.minX()) / scale_, (rect_.maxY() - y) / scale_};
}

int defaultWindowWidth(double zoom, int usableWidth) {
    double width = app::kDesignedStripWidth * zoom;
    if (usableWidth > 0) width = std::min(width, usableWidth * 0.95);
    const double picture =
        usableWidth > 0 ? std::min(app::kPictureWidth, usableWidth) : app::kPictureWidth;
    return static_cast<int>(std::lround(std::max(width, picture)));
}

bool hitTestLayer(const Layer& layer, Point p) {
    const Point c = layer.position();
    const double halfWidth = layer.bounds().size.width / 2.0;
    const double halfHeight = layer.bounds().size.height / 2.0;
    return p.x > c.x - halfWidth && p.x < c.x + halfWidth && p.y > c.y - halfHeight &&
           p.y < c.y + halfHeight;
}

LinkButton::LinkButton(Appearance appearance, double pictureWidth) : layer_(Layer::create()) {
    layer_->setBounds(Rect::make(0.0, 0.0, app::kLinkButtonWidth, app::kLinkButtonHeight));
    layer_->setAnchorPoint(Point{0.5, 0.5});
    layer_->setPosition(Point{pictureWidth * app::kLinkButtonXFraction, app::kLinkButtonY});
    layer_->setBackgroundColor(
        Color::white(app::kLinkButtonLightWhite, app::kLinkButtonLightAlpha));
    if (appearance == Appearance::Dark) {
        layer_->setBackgroundColor(
            Color::white(app::kLinkButtonDarkWhite, app::kLinkButtonDarkAlpha));
    }
    layer_->setOpacity(0.0f);
    layer_->setCornerRadius(app::kLinkButtonCornerRadius);
    layer_->setCornerCurve(CornerCurve::Continuous);
}

void LinkButton::mouseMoved(Point p) {
    TransactionScope transaction;
    Transaction::setAnimationDuration(app::kLinkButtonFade);
    layer_->setOpacity(hitTestLayer(*layer_, p) ? 1.0f : 0.0f);
}

bool LinkButton::mouseDown(Point p) {
    if (!hitTestLayer(*layer_, p)) return false;
    layer_->setOpacity(0.0f);
    return true;
}

}  // namespace vornik
