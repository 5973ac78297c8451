#include "app/Formatters.h"

#include <climits>
#include <cmath>
#include <cstdio>

namespace vornik {
namespace {

std::string printed(const char* format, int n) {
    char text[32];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

}  // namespace

std::optional<int> truncatedIntegerValue(double value) {
    if (std::isnan(value)) return std::nullopt;
    // Converting a double beyond int's range is undefined; the ends of the range stand in.
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

std::optional<std::string> SlicesFormatter::stringForObjectValue(
    std::optional<double> value) const {
    if (!value) return std::nullopt;
    const std::optional<int> n = truncatedIntegerValue(*value);
    if (!n) return std::nullopt;
    switch (*n) {
        case 1:
            return "auto slice";
        case 2:
            return printed("%d slices", 4);
        case 3:
            return printed("%d slices", 8);
        case 4:
            return printed("%d slices", 16);
        default:
            return printed("%d slices", 0);
    }
}

std::optional<std::string> DisabledFormatter::stringForObjectValue(std::optional<double>) const {
    return "disabled";
}

std::optional<std::string> TransposeFormatter::stringForObjectValue(
    std::optional<double> value) const {
    if (!value) return std::nullopt;
    const std::optional<int> n = truncatedIntegerValue(*value);
    if (!n) return std::nullopt;
    if (*n == 0) return "original";
    return printed(*n > 0 ? "+%d" : "%d", *n);
}

}  // namespace vornik
