#pragma once
// The window's appearance, light or dark, from the desktop's colour-scheme preference:
// VORNIK_APPEARANCE=dark|light overrides it; else the desktop portal's setting, read at start and
// followed while the program runs; without a portal, gsettings and the GTK theme, read at start.
// Thread: main.

#include <optional>
#include <string>
#include <string_view>

#include "app/Portal.h"

namespace vornik {

enum class Appearance { Light, Dark };

// What the desktop says, as read: empty strings for settings that could not be read.
struct DesktopPreferences {
    std::string override;     // VORNIK_APPEARANCE
    std::string colorScheme;  // the portal's, else gsettings org.gnome.desktop.interface's
                              // color-scheme: "prefer-dark", "prefer-light", "default"
    std::string gtkTheme;     // GTK_THEME, else gsettings org.gnome.desktop.interface gtk-theme
};

// The decision: the override when it is "dark" or "light" (any case; another value is logged and
// ignored), else a colour scheme that prefers dark or light, else a GTK theme whose name contains
// "dark", else light.
Appearance appearanceFrom(const DesktopPreferences& preferences);

// The override alone, when VORNIK_APPEARANCE names an appearance (another value is logged).
std::optional<Appearance> appearanceOverride();

// The portal's colour scheme as DesktopPreferences::colorScheme reads it.
std::string colorSchemeText(ColorScheme scheme);

// Reads the preferences from the environment, and from gsettings (when it is installed) for
// what the portal's colour scheme, when there is one, does not decide.
DesktopPreferences readDesktopPreferences(std::optional<ColorScheme> portalScheme);

const char* appearanceName(Appearance appearance);

}  // namespace vornik
