#pragma once
// The window's appearance, light or dark, read once at start from the desktop's colour-scheme
// preference; VORNIK_APPEARANCE=dark|light overrides it. A later change of the desktop's setting
// does not change the window. Thread: main.

#include <optional>
#include <string>
#include <string_view>

namespace vornik {

enum class Appearance { Light, Dark };

// What the desktop says, as read: empty strings for settings that could not be read.
struct DesktopPreferences {
    std::string override;     // VORNIK_APPEARANCE
    std::string colorScheme;  // gsettings org.gnome.desktop.interface color-scheme
    std::string gtkTheme;     // GTK_THEME, else gsettings org.gnome.desktop.interface gtk-theme
};

// The decision: the override when it is "dark" or "light" (any case; another value is logged and
// ignored), else a colour scheme that prefers dark or light, else a GTK theme whose name contains
// "dark", else light.
Appearance appearanceFrom(const DesktopPreferences& preferences);

// Reads the preferences from the environment and gsettings (when it is installed).
DesktopPreferences readDesktopPreferences();

// appearanceFrom(readDesktopPreferences()), without asking gsettings when the override decides.
Appearance detectAppearance();

const char* appearanceName(Appearance appearance);

}  // namespace vornik
