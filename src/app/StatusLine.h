#pragma once
// The window's status line, a band between the picture and the strip: the sample's name, length,
// channels and rate on the left, and on the right what the user must know (showStatus) for a few
// seconds. A recording's message stays until it is replaced or cleared. Plain C++; it draws itself
// with Cairo only when asked, and the window asks only when update() says it changed.
// Thread: main.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/Appearance.h"
#include "base/Status.h"
#include "display/Image.h"

namespace vornik {

// "demo.wav  ·  6.0 s  ·  stereo  ·  44.1 kHz"; the hint for loading one when `name` is empty.
std::string describeSample(std::string_view name, std::int64_t frames, int channels,
                           double sampleRate);

class StatusLine {
public:
    static constexpr double kMessageSeconds = 5.0;

    // A message handed to showStatus at `now` (seconds). An empty text clears the message shown
    // if it is of the same kind.
    void show(std::string_view text, StatusKind kind, double now);
    // What the left side says about the sample.
    void setSample(std::string_view description);
    // Lets a message whose time is up go. True when what the line shows changed since the
    // previous call: draw it again.
    bool update(double now);

    const std::string& sample() const { return sample_; }
    const std::string& message() const { return message_; }
    StatusKind kind() const { return kind_; }

    // The line on a transparent `width` x `height` pixel image, `scale` pixels per window unit.
    std::shared_ptr<Image> draw(Appearance appearance, int width, int height, double scale) const;

private:
    std::string sample_;
    std::string message_;
    StatusKind kind_ = StatusKind::info;
    double shownAt_ = 0.0;
    bool changed_ = true;
};

}  // namespace vornik
