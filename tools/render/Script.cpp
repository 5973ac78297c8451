#include "Script.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace vornik::render {
namespace {

bool parseNumber(const std::string& word, double& out) {
    if (word.empty()) return false;
    std::size_t used = 0;
    try {
        out = std::stod(word, &used);
    } catch (...) {
        return false;
    }
    return used == word.size() && std::isfinite(out);
}

bool parseInteger(const std::string& word, long& out) {
    double v = 0.0;
    if (!parseNumber(word, v) || v != std::floor(v) || std::fabs(v) > 1e15) return false;
    out = static_cast<long>(v);
    return true;
}

struct ControlRange {
    const char* name;
    double low, high;
    bool integer;
};

// The controls a script can set, with the range the user could give them.
constexpr ControlRange kControls[] = {
    {"mode", 0, 3, true},      {"slices", 0, 4, true},  {"transpose", -24, 24, true},
    {"attack", 0, 1, false},   {"decay", 0, 1, false},  {"delay", 0, 1, false},
    {"feedback", 0, 1, false}, {"reverb", 0, 1, false}, {"filter", 0, 2, false},
};

class LineParser {
public:
    LineParser(int line, std::vector<std::string> words, const std::filesystem::path& folder,
               ScriptError& error)
        : line_(line), words_(std::move(words)), folder_(folder), error_(error) {}

    bool fail(const std::string& message) {
        error_ = {line_, message};
        return false;
    }

    bool expectWords(std::size_t n, const char* usage) {
        if (words_.size() == n) return true;
        return fail(std::string("expected \"") + usage + "\"");
    }

    bool number(std::size_t i, const char* what, double& out) {
        if (parseNumber(words_[i], out)) return true;
        return fail(std::string("bad number for ") + what + ": \"" + words_[i] + "\"");
    }

    bool path(std::size_t i, bool mustExist, std::filesystem::path& out) {
        out = folder_ / words_[i];
        if (!mustExist) return true;
        std::error_code ec;
        if (std::filesystem::is_regular_file(out, ec)) return true;
        return fail("missing file: " + out.string());
    }

    bool timed(Script& script) {
        Command c;
        c.line = line_;
        if (words_.size() < 3) return fail("expected \"at T COMMAND ...\"");
        if (!number(1, "time", c.time)) return false;
        if (c.time < 0) return fail("time must not be negative");
        const std::string& verb = words_[2];
        if (verb == "load" || verb == "drop") {
            c.kind = verb == "load" ? Command::Kind::Load : Command::Kind::Drop;
            if (!expectWords(4, "at T load|drop PATH") || !path(3, true, c.path)) return false;
        } else if (verb == "down" || verb == "move") {
            c.kind = verb == "down" ? Command::Kind::Down : Command::Kind::Move;
            if (!expectWords(5, "at T down|move F X")) return false;
            if (!parseInteger(words_[3], c.finger)) return fail("bad finger: \"" + words_[3] + "\"");
            if (!number(4, "x", c.value)) return false;
        } else if (verb == "up" || verb == "cancel") {
            c.kind = verb == "up" ? Command::Kind::Up : Command::Kind::Cancel;
            if (!expectWords(4, "at T up|cancel F")) return false;
            if (!parseInteger(words_[3], c.finger)) return fail("bad finger: \"" + words_[3] + "\"");
        } else if (verb == "set") {
            c.kind = Command::Kind::Set;
            if (!expectWords(5, "at T set CONTROL VALUE")) return false;
            c.name = words_[3];
            auto control = std::find_if(std::begin(kControls), std::end(kControls),
                                        [&](const ControlRange& r) { return c.name == r.name; });
            if (control == std::end(kControls)) return fail("unknown control \"" + c.name + "\"");
            if (!number(4, c.name.c_str(), c.value)) return false;
            if (c.value < control->low || c.value > control->high ||
                (control->integer && c.value != std::floor(c.value))) {
                std::ostringstream range;
                range << c.name << " takes " << (control->integer ? "a whole number " : "")
                      << "from " << control->low << " to " << control->high;
                return fail(range.str());
            }
        } else if (verb == "press") {
            c.kind = Command::Kind::Press;
            if (!expectWords(4, "at T press effects|controls")) return false;
            c.name = words_[3];
            if (c.name != "effects" && c.name != "controls") {
                return fail("unknown button \"" + c.name + "\" (effects or controls)");
            }
        } else if (verb == "key") {
            c.kind = Command::Kind::Key;
            if (!expectWords(5, "at T key space|r|o|O down|up")) return false;
            c.name = words_[3];
            if (c.name != "space" && c.name != "r" && c.name != "o" && c.name != "O") {
                return fail("unknown key \"" + c.name + "\"");
            }
            if (words_[4] != "down" && words_[4] != "up") {
                return fail("key state must be down or up, not \"" + words_[4] + "\"");
            }
            c.keyDown = words_[4] == "down";
        } else if (verb == "midi") {
            c.kind = Command::Kind::Midi;
            if (words_.size() != 5 && words_.size() != 6) {
                return fail("expected \"at T midi B1 B2 [B3]\" (bytes in hex)");
            }
            for (std::size_t i = 3; i < words_.size(); ++i) {
                const std::string& w = words_[i];
                std::size_t used = 0;
                unsigned long byte = 256;
                try {
                    byte = std::stoul(w, &used, 16);
                } catch (...) {
                }
                if (w.size() > 2 || used != w.size() || byte > 255) {
                    return fail("bad MIDI byte \"" + w + "\" (hex, 00 to FF)");
                }
                c.bytes.push_back(static_cast<std::uint8_t>(byte));
            }
        } else if (verb == "snapshot" || verb == "dump") {
            c.kind = verb == "snapshot" ? Command::Kind::Snapshot : Command::Kind::Dump;
            if (!expectWords(4, "at T snapshot|dump FILE") || !path(3, false, c.path)) {
                return false;
            }
        } else {
            return fail("unknown command \"" + verb + "\"");
        }
        script.commands.push_back(std::move(c));
        return true;
    }

    bool parse(Script& script, bool& anyEvent) {
        const std::string& head = words_[0];
        if (head == "strip") {
            if (anyEvent) return fail("\"strip\" must come before any event");
            if (!expectWords(3, "strip W H") || !number(1, "width", script.stripWidth) ||
                !number(2, "height", script.stripHeight)) {
                return false;
            }
            if (script.stripWidth < kStripWidthMin || script.stripWidth > kStripWidthMax ||
                script.stripHeight < kStripHeightMin || script.stripHeight > kStripHeightMax) {
                std::ostringstream range;
                range << "the strip is from " << kStripWidthMin << " to " << kStripWidthMax
                      << " points wide and from " << kStripHeightMin << " to " << kStripHeightMax
                      << " high";
                return fail(range.str());
            }
            return true;
        }
        if (head == "length") {
            if (!expectWords(2, "length SECONDS") || !number(1, "length", script.length)) {
                return false;
            }
            if (script.length < 0 || script.length > 24 * 3600) {
                return fail("length must be from 0 to 86400 seconds");
            }
            return true;
        }
        if (head == "at") {
            anyEvent = true;
            return timed(script);
        }
        return fail("unknown command \"" + head + "\"");
    }

private:
    int line_;
    std::vector<std::string> words_;
    const std::filesystem::path& folder_;
    ScriptError& error_;
};

}  // namespace

std::optional<Script> parseScript(const std::string& text, const std::filesystem::path& folder,
                                  ScriptError& error) {
    Script script;
    bool anyEvent = false;
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        if (auto hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
        std::istringstream words(raw);
        std::vector<std::string> list;
        for (std::string w; words >> w;) list.push_back(w);
        if (list.empty()) continue;
        LineParser parser(line, std::move(list), folder, error);
        if (!parser.parse(script, anyEvent)) return std::nullopt;
    }
    std::stable_sort(script.commands.begin(), script.commands.end(),
                     [](const Command& a, const Command& b) { return a.time < b.time; });
    return script;
}

}  // namespace vornik::render
