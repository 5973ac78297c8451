#pragma once
// Small services of the desktop: finding a program, opening a web page, the user guide.

#include <filesystem>
#include <string>
#include <string_view>

namespace vornik {

// Whether an executable of this name is on the PATH. Thread: any.
bool commandExists(std::string_view name);

// Opens a web address with the desktop's default handler (SDL_OpenURL, which hands it to
// xdg-open). SDL reports success even without xdg-open, so its absence is checked first and
// logged. Returns whether the address was handed on. Thread: main.
bool openWebPage(const char* url);

// The file:// address of a local file (absolute, bytes outside the plain ones %-escaped).
std::string fileUrl(const std::filesystem::path& file);

// The user guide shipped with the program, found from the assets folder: in docs/ beside it in
// a checkout, in share/doc/vornik/ beside share/vornik/assets in an installed tree. Empty when
// neither holds it. Thread: any.
std::filesystem::path findUserGuide(const std::filesystem::path& assets);

// Opens the user guide in the desktop's browser; logs why not when it cannot. Thread: main.
bool openUserGuide(const std::filesystem::path& assets);

}  // namespace vornik
