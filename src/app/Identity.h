#pragma once
// Who the program is to the desktop: its application id (the desktop entry's file name, the
// AppStream id, the icon's name and the window's class), its window icon, and the names its
// sound streams carry. Thread: main, for every call here.

#include <SDL_video.h>

#include <filesystem>
#include <string>

namespace vornik {

inline constexpr const char* kApplicationId = "org.vornik.Vornik";

// Sets SDL's hints for the window class and the sound streams. Call before SDL opens the video
// or audio subsystem; a window class the user set in the environment stays.
void applyDesktopIdentity();

// Puts the icon on the window: the asset generator's PNG from `assets`, else drawn.
void setWindowIcon(SDL_Window* window, const std::filesystem::path& assets);

// The window as a desktop portal names a dialog's parent: "x11:XID" on X11, "" elsewhere.
std::string portalParentWindow(SDL_Window* window);

}  // namespace vornik
