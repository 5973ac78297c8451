#pragma once
// Colours of the layer tree, and the blends the waveform colours its bars with.
// All functions are pure: any thread.

namespace vornik {

// sRGB components and alpha, nominally 0..1. Components outside 0..1 are kept as they are (a Lab
// round trip may give 1.00002); the renderer clamps when it draws.
struct Color {
    double r = 0.0, g = 0.0, b = 0.0, a = 0.0;

    static constexpr Color rgba(double r, double g, double b, double a = 1.0) {
        return Color{r, g, b, a};
    }
    // A grey of `level` (0 black, 1 white).
    static constexpr Color white(double level, double alpha = 1.0) {
        return Color{level, level, level, alpha};
    }
    static constexpr Color clear() { return Color{}; }
    static constexpr Color black() { return Color{0.0, 0.0, 0.0, 1.0}; }

    bool isVisible() const { return a > 0.0; }
    friend bool operator==(const Color&, const Color&) = default;
};

// The red of the sliders' track, the level meter and the looper's first waveform colour.
inline constexpr Color kAccentRed = Color::rgba(0.82421875, 0.07421875, 0.1875, 1.0);

// CIE L*a*b* under D65: L 0 (black) to 100 (white), a green to red, b blue to yellow.
struct Lab {
    double l = 0.0, a = 0.0, b = 0.0;
};

// sRGB to Lab. Alpha is ignored. Intermediate results are narrowed to float at fixed points, so
// the numbers match the instrument's reference colours bit for bit.
Lab rgb2lab(const Color& color);

// Lab to sRGB with alpha 1. Nothing is clamped: a result outside 0..1 is returned as it is.
Color lab2rgb(const Lab& lab);

// The blend from a (t = 0) to b (t = 1) through Lab; t is not clamped, so it extrapolates.
Color interpolateLabColor(const Color& a, const Color& b, float t);

// The blend on the sRGB components, in double precision, alpha 1.
Color interpolateColor(const Color& a, const Color& b, float t);

}  // namespace vornik
