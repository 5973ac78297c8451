#pragma once
// The stepper formatters: a stepper's value (its integer part) as the label the stepper shows.
// Pure: any thread.

#include <optional>
#include <string>

namespace vornik {

class Formatter {
public:
    virtual ~Formatter() = default;
    // The label for `value`; nothing (no text) when the value is not a number. A value that is
    // not a number is an empty optional or NaN.
    virtual std::optional<std::string> stringForObjectValue(std::optional<double> value) const = 0;
};

// 0 none, 1 "auto slice", 2..4 equal slices (4, 8 or 16); any other value reads "0 slices".
class SlicesFormatter final : public Formatter {
public:
    std::optional<std::string> stringForObjectValue(std::optional<double> value) const override;
};

// The inert placeholder steppers: always "disabled".
class DisabledFormatter final : public Formatter {
public:
    std::optional<std::string> stringForObjectValue(std::optional<double> value) const override;
};

// Semitones: "original" at 0, "+7" above, "-7" below.
class TransposeFormatter final : public Formatter {
public:
    std::optional<std::string> stringForObjectValue(std::optional<double> value) const override;
};

// The integer part of a number (towards zero), held within the range of int; nothing for NaN.
std::optional<int> truncatedIntegerValue(double value);

}  // namespace vornik
