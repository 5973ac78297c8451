#include "display/Color.h"

#include <cmath>

namespace vornik {
namespace {

// The reference white (D65) and the curve constants of the Lab conversions.
constexpr double kWhiteX = 95.047;
constexpr double kWhiteY = 100.0;
constexpr double kWhiteZ = 108.883;
constexpr double kLabThreshold = 0.008856;
constexpr double kLabSlope = 7.787;
constexpr double kLabOffset = 0.13793103448275862;  // 16/116
constexpr double kOneThird = 0.3333333333333333;
constexpr double kDecodeThreshold = 0.04045;
constexpr double kEncodeThreshold = 0.0031308;
constexpr double kEncodeExponent = 0.4166666666666667;  // 1/2.4

// Each step below narrows to float exactly where the reference computation does; the rest is in
// double. Reordering or fusing any of it changes the last bits of the waveform colours.

float decodeChannel(float c) {
    return static_cast<float>(c > kDecodeThreshold ? std::pow((c + 0.055) / 1.055, 2.4)
                                                   : c / 12.92);
}

float encodeChannel(float v) {
    return static_cast<float>(v > kEncodeThreshold ? 1.055 * std::pow(v, kEncodeExponent) - 0.055
                                                   : 12.92 * v);
}

float labForward(float t) {
    return static_cast<float>(t > kLabThreshold ? std::pow(t, kOneThird)
                                                : kLabSlope * t + kLabOffset);
}

float labInverse(float f) {
    const double t = std::pow(f, 3.0);
    return static_cast<float>(t > kLabThreshold ? t : (f - kLabOffset) / kLabSlope);
}

}  // namespace

Lab rgb2lab(const Color& color) {
    const float r = decodeChannel(static_cast<float>(color.r)) * 100.0f;
    const float g = decodeChannel(static_cast<float>(color.g)) * 100.0f;
    const float b = decodeChannel(static_cast<float>(color.b)) * 100.0f;

    const float X = static_cast<float>((g * 0.3576 + r * 0.4124) + b * 0.1805);
    const float Y = static_cast<float>((g * 0.7152 + r * 0.2126) + b * 0.0722);
    const float Z = static_cast<float>((g * 0.1192 + r * 0.0193) + b * 0.9505);

    const float x = static_cast<float>(X / kWhiteX);
    const float y = Y / static_cast<float>(kWhiteY);
    const float z = static_cast<float>(Z / kWhiteZ);

    const float fx = labForward(x);
    const float fy = labForward(y);
    const float fz = labForward(z);

    return Lab{116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

Color lab2rgb(const Lab& lab) {
    const float fy = static_cast<float>((lab.l + 16.0) / 116.0);
    const float fx = static_cast<float>(lab.a / 500.0 + fy);
    const float fz = static_cast<float>(lab.b / -200.0 + fy);

    const float xr = labInverse(fx);
    const float yr = labInverse(fy);
    const float zr = labInverse(fz);

    const float X = static_cast<float>(xr * kWhiteX) / 100.0f;
    const float Y = (yr * 100.0f) / 100.0f;
    const float Z = static_cast<float>(zr * kWhiteZ) / 100.0f;

    const float r = static_cast<float>((Y * -1.5372 + X * 3.2406) + Z * -0.4986);
    const float g = static_cast<float>((Y * 1.8758 + X * -0.9689) + Z * 0.0415);
    const float b = static_cast<float>((Y * -0.2040 + X * 0.0557) + Z * 1.0570);

    return Color{encodeChannel(r), encodeChannel(g), encodeChannel(b), 1.0};
}

Color interpolateLabColor(const Color& a, const Color& b, float t) {
    const Lab la = rgb2lab(a);
    const Lab lb = rgb2lab(b);
    const double w = t;
    return lab2rgb(
        Lab{la.l + (lb.l - la.l) * w, la.a + (lb.a - la.a) * w, la.b + (lb.b - la.b) * w});
}

Color interpolateColor(const Color& a, const Color& b, float t) {
    const double w = t;
    return Color{a.r + (b.r - a.r) * w, a.g + (b.g - a.g) * w, a.b + (b.b - a.b) * w, 1.0};
}

}  // namespace vornik
