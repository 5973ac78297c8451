#include "app/Desktop.h"

#include <SDL_error.h>
#include <SDL_misc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/AppConstants.h"
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

std::string fileUrl(const std::filesystem::path& file) {
    const std::string path = std::filesystem::absolute(file).lexically_normal().string();
    std::string url = "file://";
    for (const unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

std::filesystem::path findUserGuide(const std::filesystem::path& assets) {
    if (assets.empty()) return {};
    const auto dir = std::filesystem::absolute(assets).lexically_normal();
    const auto base = dir.has_filename() ? dir : dir.parent_path();
    for (const auto& guide :
         {base.parent_path() / "docs" / app::kUserGuideName,
          base.parent_path().parent_path() / "doc" / "vornik" / app::kUserGuideName}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(guide, ec)) return guide;
    }
    return {};
}

bool openUserGuide(const std::filesystem::path& assets) {
    const auto guide = findUserGuide(assets);
    if (guide.empty()) {
        logf("cannot open the user guide: %s is not installed beside the program's assets",
             app::kUserGuideName);
        return false;
    }
    return openWebPage(fileUrl(guide).c_str());
}

}  // namespace vornik
