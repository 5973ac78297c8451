#include "sample/Takes.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/Log.h"

namespace vornik {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kTakesFolder = "Vornik takes";
constexpr std::string_view kPartPrefix = ".recording-";
constexpr std::string_view kPartSuffix = ".wav.part";

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/tmp";
}

std::string readWholeFile(const fs::path& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string runXdgUserDir() {
    std::string out;
    FILE* pipe = popen("xdg-user-dir DOCUMENTS 2>/dev/null", "r");
    if (pipe == nullptr) return out;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) out += chunk;
    if (pclose(pipe) != 0) out.clear();  // a missing tool (status 127) or a failure
    return out;
}

// The desktop's answer for the documents folder, unless it is none (empty, relative) or $HOME
// itself, which is what it answers when the folder is not set up.
fs::path ownFolder(const fs::path& answer, const fs::path& home) {
    if (!answer.is_absolute()) return {};
    const fs::path normal = (answer / "").lexically_normal();
    return normal == (home / "").lexically_normal() ? fs::path() : answer.lexically_normal();
}

// The digits of `s`, all of it; false if there are none or anything else.
bool allDigits(std::string_view s) {
    if (s.empty() || s.size() > 10) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool copyWithTime(const fs::path& from, const fs::path& to, std::string& why) {
    std::error_code ec;
    if (!fs::copy_file(from, to, fs::copy_options::none, ec)) {
        why = ec.message();
        return false;
    }
    struct stat st {};
    const int fd = ::open(to.c_str(), O_WRONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (synced && ::stat(from.c_str(), &st) == 0) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(fd, times);  // how isKeptIn knows the copy again
    }
    if (fd >= 0) ::close(fd);
    if (!synced) {
        why = std::strerror(errno);
        fs::remove(to, ec);
        return false;
    }
    return true;
}

}  // namespace

fs::path documentsDirectoryFrom(std::string_view xdgUserDirOutput, std::string_view userDirsFile,
                                const fs::path& home) {
    if (fs::path tool = ownFolder(fs::path(trim(xdgUserDirOutput)), home); !tool.empty()) {
        return tool;
    }
    // user-dirs.dirs: lines of XDG_NAME_DIR="$HOME/Some/Where" or an absolute path.
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
    std::string_view rest = userDirsFile;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.substr(0, kKey.size()) != kKey) continue;
        std::string_view value = trim(line.substr(kKey.size()));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        constexpr std::string_view kHome = "$HOME";
        std::string full(value);
        if (value.substr(0, kHome.size()) == kHome &&
            (value.size() == kHome.size() || value[kHome.size()] == '/')) {
            full = home.string();
            full.append(value.substr(kHome.size()));
        }
        if (fs::path own = ownFolder(full, home); !own.empty()) return own;
    }
    return home / "Documents";
}

fs::path documentsDirectory() {
    const fs::path home = homeDirectory();
    fs::path config = home / ".config";
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    }
    return documentsDirectoryFrom(runXdgUserDir(), readWholeFile(config / "user-dirs.dirs"), home);
}

fs::path takesDirectory(const fs::path& documents) { return documents / kTakesFolder; }

fs::path keepTake(const fs::path& file, const fs::path& takes, std::string_view kind,
                  std::time_t when, std::string& why) {
    std::error_code ec;
    fs::create_directories(takes, ec);
    if (ec || !fs::is_directory(takes)) {
        why = ec ? ec.message() : "a file of that name is in the way";
        return {};
    }
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
    const std::string base = std::string(kind) + stamp;
    for (int n = 1; n < 1000; ++n) {
        std::string name = base;
        if (n > 1) name.append("-").append(std::to_string(n));
        const fs::path take = takes / name.append(".wav");
        if (::link(file.c_str(), take.c_str()) == 0) return take;
        if (errno == EEXIST) continue;
        // No links here (some shared and removable file systems): a copy.
        if (fs::exists(take, ec)) continue;
        return copyWithTime(file, take, why) ? take : fs::path();
    }
    why = "too many takes of that second";
    return {};
}

bool isKeptIn(const fs::path& file, const fs::path& takes) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return false;
    if (st.st_nlink > 1) return true;  // our takes are links; nothing else links recordings
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(takes, ec)) {
        struct stat other {};
        if (::stat(entry.path().c_str(), &other) == 0 && S_ISREG(other.st_mode) &&
            other.st_size == st.st_size && other.st_mtim.tv_sec == st.st_mtim.tv_sec &&
            other.st_mtim.tv_nsec == st.st_mtim.tv_nsec) {
            return true;
        }
    }
    return false;
}

std::string partFileName(long pid, unsigned counter) {
    return std::string(kPartPrefix) + std::to_string(pid) + "-" + std::to_string(counter) +
           std::string(kPartSuffix);
}

int removeStaleParts(const fs::path& directory) {
    int removed = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(directory, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= kPartPrefix.size() + kPartSuffix.size() ||
            name.compare(0, kPartPrefix.size(), kPartPrefix) != 0 ||
            name.compare(name.size() - kPartSuffix.size(), kPartSuffix.size(), kPartSuffix) != 0) {
            continue;
        }
        const std::string_view middle = std::string_view(name).substr(
            kPartPrefix.size(), name.size() - kPartPrefix.size() - kPartSuffix.size());
        const auto dash = middle.find('-');
        if (dash == std::string_view::npos || !allDigits(middle.substr(0, dash)) ||
            !allDigits(middle.substr(dash + 1))) {
            continue;
        }
        const long pid = std::strtol(std::string(middle.substr(0, dash)).c_str(), nullptr, 10);
        // A program still running (this one too) may be writing it.
        if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        if (!entry.is_regular_file(ec) || !fs::remove(entry.path(), ec)) continue;
        ++removed;
    }
    if (removed > 0) {
        logf(
            "recording: removed %d unfinished recording file(s) in %s left by a program that "
            "was stopped",
            removed, directory.c_str());
    }
    return removed;
}

}  // namespace vornik
