#include "session/SessionState.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "base/Log.h"

namespace vornik {
namespace {

constexpr std::array<std::string_view, 4> kModeNames = {"slicer", "looper", "bow", "tape"};
// The slices stepper's positions as the file writes them: the counts its label shows.
constexpr std::array<std::string_view, 5> kSlicesNames = {"0", "auto", "4", "8", "16"};

std::string number(double v) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);  // shortest exact form
    return ec == std::errc() ? std::string(text, end) : std::string("0");
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<double> parseNumber(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return {};
    return v;
}

std::optional<double> clampedNumber(std::string_view text, double lo, double hi) {
    const auto v = parseNumber(text);
    if (!v) return {};
    return std::clamp(*v, lo, hi);
}

std::optional<int> clampedInteger(std::string_view text, int lo, int hi) {
    const auto v = clampedNumber(text, lo, hi);
    if (!v) return {};
    return static_cast<int>(std::trunc(*v));
}

// A name from `names` (its index), or a number clamped to [lo, hi].
template <std::size_t N>
std::optional<int> namedOrNumber(std::string_view text,
                                 const std::array<std::string_view, N>& names, int lo, int hi) {
    const auto it = std::find(names.begin(), names.end(), trim(text));
    if (it != names.end()) return static_cast<int>(it - names.begin());
    return clampedInteger(text, lo, hi);
}

std::optional<int> slicesStep(std::string_view text) {
    const auto it = std::find(kSlicesNames.begin(), kSlicesNames.end(), trim(text));
    if (it != kSlicesNames.end()) return static_cast<int>(it - kSlicesNames.begin());
    const auto n = parseNumber(text);  // beyond the ends: clamped; between the steps: refused
    if (n && *n <= 0.0) return state::kSlicesStepMin;
    if (n && *n >= 16.0) return state::kSlicesStepMax;
    return {};
}

}  // namespace

std::string formatState(const SessionState& s) {
    std::string out =
        "# Vornik's state: the sample and the controls as they were left. Vornik writes it while\n"
        "# it runs and when it quits; start it with --fresh, or delete this file, to begin "
        "blank.\n";
    auto put = [&out](std::string_view key, std::string_view value) {
        out.append(key).append(" = ").append(value).append("\n");
    };
    put("version", std::to_string(state::kVersion));
    if (s.sample.find_first_of("\r\n") != std::string::npos) {
        logf("the sample's path cannot be kept (it holds a line break): \"%s\"", s.sample.c_str());
    } else if (!s.sample.empty()) {
        put("sample", s.sample);
    }
    if (s.playMode) put("play-mode", kModeNames[std::clamp(*s.playMode, 0, 3)]);
    if (s.slicesStep) put("slices", kSlicesNames[std::clamp(*s.slicesStep, 0, 4)]);
    if (s.attack) put("attack", number(*s.attack));
    if (s.decay) put("decay", number(*s.decay));
    if (s.transpose) put("transpose", std::to_string(*s.transpose));
    if (s.filter) put("filter", number(*s.filter));
    if (s.delay) put("delay", number(*s.delay));
    if (s.feedback) put("feedback", number(*s.feedback));
    if (s.reverb) put("reverb", number(*s.reverb));
    put("control-bar", s.controlBar == state::kEffectsBar ? "effects" : "controls");
    if (s.zoom) put("zoom", number(*s.zoom));
    if (s.window) {
        if (s.window->x) put("window-x", std::to_string(*s.window->x));
        if (s.window->y) put("window-y", std::to_string(*s.window->y));
        put("window-width", std::to_string(s.window->width));
        put("window-height", std::to_string(s.window->height));
    }
    for (const auto& [key, value] : s.others) {
        if (value.find_first_of("\r\n") == std::string::npos) put(key, value);
    }
    out.append("end\n");
    return out;
}

ParsedState parseState(std::string_view text) {
    ParsedState result;
    auto fail = [&result](ParsedState::Outcome outcome, std::string problem) {
        result.outcome = outcome;
        result.problem = std::move(problem);
        result.state = SessionState{};
        result.refused.clear();
        return result;
    };
    SessionState& s = result.state;
    std::optional<int> width, height, x, y;
    bool versioned = false, ended = false;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        const std::string_view raw = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        ++lineNumber;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') continue;
        if (ended) return fail(ParsedState::Outcome::broken, "text after its \"end\" line");
        if (line == "end") {
            ended = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            return fail(ParsedState::Outcome::broken,
                        "line " + std::to_string(lineNumber) + " is not \"key = value\"");
        }
        const std::string key(trim(line.substr(0, eq)));
        // The value as written: a path keeps its own spaces, only those after '=' go.
        std::string_view value = raw.substr(raw.find('=') + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        if (!value.empty() && value.back() == '\r') value.remove_suffix(1);

        if (!versioned) {
            const auto version = key == "version" ? parseNumber(value) : std::nullopt;
            if (!version || *version < 1 || *version != std::trunc(*version)) {
                return fail(ParsedState::Outcome::broken, "no version line at its start");
            }
            if (*version > state::kVersion) {
                return fail(ParsedState::Outcome::newer,
                            "written by a newer Vornik (version " + std::string(trim(value)) + ")");
            }
            versioned = true;
            continue;
        }

        bool ok = true;
        auto take = [&ok](auto& field, auto parsed) {
            if (parsed) {
                field = *parsed;
            } else {
                ok = false;
            }
        };
        using namespace state;
        if (key == "sample") {
            s.sample = std::string(value);
        } else if (key == "play-mode") {
            take(s.playMode, namedOrNumber(value, kModeNames, kPlayModeMin, kPlayModeMax));
        } else if (key == "slices") {
            take(s.slicesStep, slicesStep(value));
        } else if (key == "attack") {
            take(s.attack, clampedNumber(value, kSliderMin, kSliderMax));
        } else if (key == "decay") {
            take(s.decay, clampedNumber(value, kSliderMin, kSliderMax));
        } else if (key == "transpose") {
            take(s.transpose, clampedInteger(value, kTransposeMin, kTransposeMax));
        } else if (key == "filter") {
            take(s.filter, clampedNumber(value, kFilterMin, kFilterMax));
        } else if (key == "delay") {
            take(s.delay, clampedNumber(value, kSliderMin, kSliderMax));
        } else if (key == "feedback") {
            take(s.feedback, clampedNumber(value, kSliderMin, kSliderMax));
        } else if (key == "reverb") {
            take(s.reverb, clampedNumber(value, kSliderMin, kSliderMax));
        } else if (key == "control-bar") {
            const std::string_view bar = trim(value);
            take(s.controlBar, bar == "controls" ? std::optional<int>(kControlsBar)
                               : bar == "effects"
                                   ? std::optional<int>(kEffectsBar)
                                   : clampedInteger(value, kControlsBar, kEffectsBar));
        } else if (key == "zoom") {
            take(s.zoom, clampedNumber(value, kZoomMin, kZoomMax));
        } else if (key == "window-x") {
            take(x, clampedInteger(value, -kWindowMaxOffset, kWindowMaxOffset));
        } else if (key == "window-y") {
            take(y, clampedInteger(value, -kWindowMaxOffset, kWindowMaxOffset));
        } else if (key == "window-width") {
            take(width, clampedInteger(value, kWindowMinSize, kWindowMaxSize));
        } else if (key == "window-height") {
            take(height, clampedInteger(value, kWindowMinSize, kWindowMaxSize));
        } else if (key.find('.') != std::string::npos) {
            s.others[key] = std::string(value);
        }  // any other key: not ours, ignored
        if (!ok) result.refused.push_back(key);
    }
    if (!versioned) return fail(ParsedState::Outcome::broken, "no version line");
    if (!ended) return fail(ParsedState::Outcome::broken, "half-written (no \"end\" line)");
    if (width && height) s.window = WindowFrame{x, y, *width, *height};
    result.outcome = ParsedState::Outcome::ok;
    return result;
}

}  // namespace vornik
