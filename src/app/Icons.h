#pragma once
// The small pictures at the minimum end of five sliders: envelope ramps for attack and decay, a
// filter response, a row of fading echoes for the delay and a soft dot for the reverb. Each is a
// 30 x 30 point layer tree drawn into a 60 x 60 pixel image, white on transparent. Thread: main
// (the images are drawn with the layer tree).
//
// Path coordinates are points relative to the icon's centre, x to the right and y upward, so the
// icon spans -15 to 15 in both directions.

#include <memory>

#include "display/Image.h"
#include "display/Layer.h"
#include "display/Path.h"

namespace vornik {

namespace icons {
inline constexpr double kIconSize = 30.0;  // points, square
inline constexpr double kIconScale = 2.0;  // pixels per point of the image
inline constexpr double kLineWidth = 1.5;
inline constexpr double kFilterMaskWidth = 20.0;  // the filter curve shows only its middle
}  // namespace icons

// The attack ramp for a slider value v (0 to 1): from (-11.7, -9) up a curve to (9, 9), then
// straight down to (9, -9). The bend is 17 at v = 0 (hugging the bottom) and 0.85 at v = 1
// (nearly straight).
Path attackPath(float v);
// The decay ramp: the attack ramp mirrored left to right, drawn the other way round.
Path decayPath(float v);
// A low-pass response for v (0 to 1) with its resonant peak at (v - 0.5) x 13.5; `flip` mirrors
// it left to right into a high-pass response.
Path lowpassPath(float v, bool flip);

// The icons' layer trees: a 30 x 30 point container with its content, for the given slider
// values (attack a, decay d, filter f 0 to 2, delay t and feedback b, reverb r).
LayerPtr attackIconLayer(double a);
LayerPtr decayIconLayer(double d);
LayerPtr filterIconLayer(double f);
LayerPtr delayIconLayer(double t, double b);
LayerPtr reverbIconLayer(double r);

// A layer tree drawn into an image of twice its bounds size in pixels (truncated), sRGB.
std::shared_ptr<Image> imageFromLayer(const Layer& layer);

// The five icons as images.
std::shared_ptr<Image> attackIcon(double a);
std::shared_ptr<Image> decayIcon(double d);
std::shared_ptr<Image> filterIcon(double f);
std::shared_ptr<Image> delayIcon(double t, double b);
std::shared_ptr<Image> reverbIcon(double r);

}  // namespace vornik
