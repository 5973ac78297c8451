#include "display/Layer.h"

#include <algorithm>
#include <cmath>

#include "base/Log.h"
#include "display/Transaction.h"

namespace vornik {

Layer::~Layer() {
    for (const LayerPtr& sublayer : sublayers_) sublayer->superlayer_ = nullptr;
}

Rect Layer::frame() const {
    return Rect{Point{position_.x - anchorPoint_.x * bounds_.size.width,
                      position_.y - anchorPoint_.y * bounds_.size.height},
                bounds_.size};
}

void Layer::setFrame(const Rect& frame) {
    bounds_.size = frame.size;
    position_ = Point{frame.origin.x + anchorPoint_.x * frame.size.width,
                      frame.origin.y + anchorPoint_.y * frame.size.height};
}

void Layer::setOpacity(float opacity) {
    if (!presented_ || Transaction::disableActions()) {
        opacity_ = opacity;
        fade_.active = false;
        return;
    }
    const double now = Transaction::now();
    const float shown = presentationOpacity(now);
    opacity_ = opacity;
    if (shown == opacity) {  // nothing to fade
        fade_.active = false;
        return;
    }
    fade_ = Fade{true, shown, now, Transaction::animationDuration()};
}

float Layer::presentationOpacity(double now) const {
    if (!fade_.active) return opacity_;
    const double t = (now - fade_.start) / fade_.duration;
    if (!(t < 1.0)) return opacity_;
    if (t <= 0.0) return fade_.from;
    return static_cast<float>(fade_.from + (opacity_ - fade_.from) * t);
}

float Layer::presentationOpacity() const {
    return fade_.active ? presentationOpacity(Transaction::now()) : opacity_;
}

void Layer::setMask(LayerPtr mask) {
    if (mask.get() == this) {
        logLine("a layer cannot be its own mask; ignored");
        return;
    }
    mask_ = std::move(mask);
}

bool Layer::canAdopt(const Layer* layer) const {
    if (!layer) {
        logLine("adding no layer as a sublayer; ignored");
        return false;
    }
    for (const Layer* l = this; l; l = l->superlayer_) {
        if (l == layer) {
            logLine("adding a layer to itself or to one of its sublayers; ignored");
            return false;
        }
    }
    return true;
}

void Layer::addSublayer(LayerPtr layer) { insertSublayer(std::move(layer), sublayers_.size()); }

void Layer::insertSublayer(LayerPtr layer, std::size_t index) {
    if (!canAdopt(layer.get())) return;
    if (Layer* former = layer->superlayer_) {
        auto& siblings = former->sublayers_;
        const auto it = std::find(siblings.begin(), siblings.end(), layer);
        former->detach(static_cast<std::size_t>(it - siblings.begin()));
    }
    index = std::min(index, sublayers_.size());
    layer->superlayer_ = this;
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), std::move(layer));
}

void Layer::detach(std::size_t index) {
    sublayers_[index]->superlayer_ = nullptr;
    sublayers_.erase(sublayers_.begin() + static_cast<std::ptrdiff_t>(index));
}

void Layer::removeFromSuperlayer() {
    Layer* former = superlayer_;
    if (!former) return;
    auto& siblings = former->sublayers_;
    const auto it = std::find_if(siblings.begin(), siblings.end(),
                                 [this](const LayerPtr& l) { return l.get() == this; });
    if (it == siblings.end()) {  // not reachable while the links are kept in step
        superlayer_ = nullptr;
        return;
    }
    // The superlayer may hold the last reference: keep this layer alive until the call ends.
    const LayerPtr keep = *it;
    former->detach(static_cast<std::size_t>(it - siblings.begin()));
}

void Layer::setSublayers(std::vector<LayerPtr> layers) {
    // Take out the old ones first, so that a layer both in the old and the new list stays.
    for (const LayerPtr& old : sublayers_) old->superlayer_ = nullptr;
    std::vector<LayerPtr> old = std::move(sublayers_);
    sublayers_.clear();
    for (LayerPtr& layer : layers) addSublayer(std::move(layer));
    // `old` releases the layers that are no longer in the tree here.
}

}  // namespace vornik
