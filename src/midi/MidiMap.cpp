#include "midi/MidiMap.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/Log.h"
#include "midi/MidiMessage.h"

namespace vornik {
namespace {

struct DefaultBinding {
    int cc;
    const char* control;
};
constexpr DefaultBinding kDefaults[] = {
    {73, "attack"}, {72, "decay"},    {74, "filter"}, {91, "reverb"},
    {12, "delay"},  {13, "feedback"}, {14, "slices"}, {15, "transpose"},
};

}  // namespace

const std::vector<std::string>& MidiMap::controlNames() {
    static const std::vector<std::string> names = {"effects",   "mode",     "attack",   "decay",
                                                   "transpose", "slices",   "controls", "filter",
                                                   "delay",     "feedback", "reverb"};
    return names;
}

bool MidiMap::isControl(std::string_view name) {
    const auto& names = controlNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool MidiMap::isReserved(int cc) {
    return cc == midi::kSustainPedal || cc >= midi::kFirstChannelModeMessage;
}

MidiMap::MidiMap() { resetToDefaults(); }

void MidiMap::resetToDefaults() {
    for (auto& c : controls_) c.clear();
    for (const DefaultBinding& b : kDefaults) controls_[b.cc] = b.control;
}

const std::string& MidiMap::control(int cc) const {
    static const std::string none;
    return cc >= 0 && cc < 128 ? controls_[cc] : none;
}

bool MidiMap::bind(int cc, std::string_view name) {
    if (cc < 0 || cc >= 128 || isReserved(cc)) return false;
    if (!name.empty() && !isControl(name)) return false;
    controls_[cc] = name;
    return true;
}

void MidiMap::arm(std::string_view name) {
    if (isControl(name)) armed_ = name;
}

bool MidiMap::load(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    std::ifstream in(path);
    if (!in) {
        logf("cannot read the MIDI map \"%s\": %s; using the default map", path.c_str(),
             std::strerror(errno));
        return false;
    }
    std::array<std::string, 128> read;
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        if (auto hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
        std::istringstream words(raw);
        std::string keyword, number, name, extra;
        if (!(words >> keyword)) continue;
        words >> number >> name >> extra;
        char* end = nullptr;
        const long cc = std::strtol(number.c_str(), &end, 10);
        const bool numberOk = !number.empty() && *end == '\0' && cc >= 0 && cc < 128;
        if (keyword != "cc" || !numberOk || isReserved(static_cast<int>(cc)) || !isControl(name) ||
            !extra.empty()) {
            logf("%s:%d: not a MIDI binding (\"cc NUMBER CONTROL\"), skipped", path.c_str(), line);
            continue;
        }
        read[static_cast<std::size_t>(cc)] = name;
    }
    controls_ = std::move(read);
    return true;
}

std::string MidiMap::text() const {
    std::string t = "# Vornik's MIDI map: cc NUMBER CONTROL, one a line. Controls: ";
    for (const auto& n : controlNames()) t += n + (&n == &controlNames().back() ? "\n" : " ");
    for (int cc = 0; cc < 128; ++cc) {
        if (!controls_[cc].empty()) t += "cc " + std::to_string(cc) + " " + controls_[cc] + "\n";
    }
    return t;
}

std::string MidiMap::save(const std::filesystem::path& path) const {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::string temp = (path.parent_path() / (path.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0) return std::strerror(errno);
    const std::string t = text();
    bool ok = ::write(fd, t.data(), t.size()) == static_cast<ssize_t>(t.size());
    ok = ::fsync(fd) == 0 && ok;
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return {};
    const std::string why = std::strerror(ok ? errno : error);
    std::remove(temp.c_str());  // ours: the old map stays as it was
    return why;
}

std::filesystem::path MidiMap::defaultPath() {
    // A relative XDG_CONFIG_HOME is to be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "vornik" / "midi.conf";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    return std::filesystem::path(home) / ".config" / "vornik" / "midi.conf";
}

double ccToRange(int value, double minimum, double maximum) {
    return minimum + (maximum - minimum) * std::clamp(value, 0, 127) / 127.0;
}

}  // namespace vornik
