#pragma once
// Small services of the desktop: finding a program, opening a web page.

#include <string_view>

namespace vornik {

// Whether an executable of this name is on the PATH. Thread: any.
bool commandExists(std::string_view name);

// Opens a web address with the desktop's default handler (SDL_OpenURL, which hands it to
// xdg-open). SDL reports success even without xdg-open, so its absence is checked first and
// logged. Returns whether the address was handed on. Thread: main.
bool openWebPage(const char* url);

}  // namespace vornik
