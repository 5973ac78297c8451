#pragma once
// Numbers of the strip's drawing: the waveform bars and their colours, the slice markers, and the
// per-frame update of cursors, flashes, oscilloscope and meter.

#include "display/Color.h"

namespace vornik {

// --- Waveform ---------------------------------------------------------------------------------
inline constexpr double kWaveformColumnPitch = 3.0;  // points from one bar to the next
inline constexpr double kWaveformBarWidth = 2.0;
inline constexpr double kWaveformFirstBarX = 2.0;     // left edge of the first bar
inline constexpr double kWaveformMinBarHeight = 0.5;  // a silent column is a line this thick
inline constexpr double kWaveformColourExponent = 2.3;

// Each play mode colours its bars from `few` (a column with few zero crossings) to `most` (the
// column with the most crossings in the sample).
struct WaveformColours {
    Color few;
    Color most;
};
inline constexpr WaveformColours kSlicerWaveform{
    Color::rgba(0.06640625, 0.50390625, 0.9921875),    // blue
    Color::rgba(0.34765625, 0.95703125, 0.99609375)};  // cyan
inline constexpr WaveformColours kLooperWaveform{
    kAccentRed, Color::rgba(0.82421875, 0.84765625, 0.1875)};  // red to yellow
inline constexpr WaveformColours kBowWaveform{
    Color::rgba(0.078125, 0.91015625, 0.25390625),    // green
    Color::rgba(0.99609375, 0.8828125, 0.12890625)};  // amber
inline constexpr WaveformColours kTapeWaveform{
    Color::rgba(0.98828125, 0.53515625, 0.0),       // orange
    Color::rgba(0.984375, 0.9921875, 0.43359375)};  // pale yellow

// --- Slice and tape markers -------------------------------------------------------------------
inline constexpr Color kMarkerColour = Color::white(1.0, 0.6);
inline constexpr Color kHighlightColour = Color::white(1.0, 1.0);
inline constexpr double kMarkerWidth = 1.0;
inline constexpr int kTapeMarkers = 3;  // the bar in quarters
inline constexpr double kTapeMarkerSpacing = 0.25;

// --- Per-frame update -------------------------------------------------------------------------
inline constexpr double kRegionOpacityFactor = 0.6;  // looper and bow boxes: envelope x this
inline constexpr double kSpeedOpacityFactor = 0.8;   // tape bar: cursor opacity x this
inline constexpr double kHighlightDecay = 0.93;      // flash level, per display frame
inline constexpr float kHighlightFloor = 0.01f;      // at or below: the layer is left alone
inline constexpr double kHighlightOpacityFactor = 0.45;
inline constexpr double kOscilloscopeGain = 0.75;  // (L + R) x this x half the height
// Meter diameter: 10^(dB / 20) x scale + floor points.
inline constexpr double kMeterScale = 3000.0;
inline constexpr double kMeterFloor = 5.0;

}  // namespace vornik
