#include "app/Desktop.h"

#include <SDL_error.h>
#include <SDL_misc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/Log.h"

namespace vornik {

bool commandExists(std::string_view name) {
    if (name.empty()) return false;
    if (name.find('/') != std::string_view::npos) {
        return ::access(std::string(name).c_str(), X_OK) == 0;
    }
    const char* pathVariable = std::getenv("PATH");
    std::string_view dirs = pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const auto colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        std::string candidate(dir.empty() ? std::string_view(".") : dir);
        candidate += '/';
        candidate += name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        if (colon == std::string_view::npos) return false;
        dirs.remove_prefix(colon + 1);
    }
}

bool openWebPage(const char* url) {
    if (!commandExists("xdg-open")) {
        logf("cannot open %s: xdg-open is not installed (it comes with the package xdg-utils)",
             url);
        return false;
    }
    if (SDL_OpenURL(url) != 0) {
        logf("cannot open %s: %s", url, SDL_GetError());
        return false;
    }
    return true;
}

}  // namespace vornik
