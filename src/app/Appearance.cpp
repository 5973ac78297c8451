#include "app/Appearance.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "app/Desktop.h"
#include "base/Log.h"

namespace vornik {
namespace {

std::string lower(std::string_view text) {
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Trims whitespace and the quotes gsettings prints around strings.
std::string unquote(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') &&
        text.back() == text.front()) {
        text = text.substr(1, text.size() - 2);
    }
    return std::string(text);
}

std::string gsettingsGet(const char* key) {
    const std::string command =
        std::string("gsettings get org.gnome.desktop.interface ") + key + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    const int status = ::pclose(pipe);
    return status == 0 ? unquote(out) : std::string();
}

std::optional<Appearance> overrideFrom(const std::string& value) {
    if (value.empty()) return std::nullopt;
    const std::string v = lower(unquote(value));
    if (v == "dark") return Appearance::Dark;
    if (v == "light") return Appearance::Light;
    logf("VORNIK_APPEARANCE=\"%s\" is neither dark nor light: the desktop's preference applies",
         value.c_str());
    return std::nullopt;
}

}  // namespace

Appearance appearanceFrom(const DesktopPreferences& preferences) {
    if (auto forced = overrideFrom(preferences.override)) return *forced;
    const std::string scheme = lower(preferences.colorScheme);
    if (scheme == "prefer-dark") return Appearance::Dark;
    if (scheme == "prefer-light") return Appearance::Light;
    if (lower(preferences.gtkTheme).find("dark") != std::string::npos) return Appearance::Dark;
    return Appearance::Light;
}

std::optional<Appearance> appearanceOverride() {
    const char* v = std::getenv("VORNIK_APPEARANCE");
    return overrideFrom(v ? v : "");
}

std::string colorSchemeText(ColorScheme scheme) {
    switch (scheme) {
        case ColorScheme::PreferDark:
            return "prefer-dark";
        case ColorScheme::PreferLight:
            return "prefer-light";
        default:
            return "default";
    }
}

DesktopPreferences readDesktopPreferences(std::optional<ColorScheme> portalScheme) {
    DesktopPreferences p;
    if (const char* v = std::getenv("VORNIK_APPEARANCE")) p.override = v;
    if (const char* theme = std::getenv("GTK_THEME")) p.gtkTheme = theme;
    const bool gsettings = commandExists("gsettings");
    if (portalScheme) {
        p.colorScheme = colorSchemeText(*portalScheme);
    } else if (gsettings) {
        p.colorScheme = gsettingsGet("color-scheme");
    }
    // The theme, for a scheme that may later say "default".
    if (p.gtkTheme.empty() && gsettings) p.gtkTheme = gsettingsGet("gtk-theme");
    return p;
}

const char* appearanceName(Appearance appearance) {
    return appearance == Appearance::Dark ? "dark" : "light";
}

}  // namespace vornik
