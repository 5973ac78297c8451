#include "session/StateFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Log.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLargestStateFile = 1 << 20;  // ours are a few hundred bytes
constexpr const char* kTemporarySuffix = ".part";

fs::path temporaryFor(const fs::path& path, long pid) {
    return path.parent_path() /
           (path.filename().string() + "." + std::to_string(pid) + kTemporarySuffix);
}

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

fs::path stateFilePathFrom(const char* xdgStateHome, const char* home) {
    // XDG base directories: a relative one is to be ignored.
    if (xdgStateHome != nullptr && *xdgStateHome == '/') {
        return fs::path(xdgStateHome) / "vornik" / "state.conf";
    }
    if (home != nullptr && *home == '/') {
        return fs::path(home) / ".local" / "state" / "vornik" / "state.conf";
    }
    return {};
}

fs::path stateFilePath() {
    return stateFilePathFrom(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

StateFileContents readStateFile(const fs::path& path) {
    StateFileContents result;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return result;  // the first run, or a fresh start by hand
    result.outcome = StateFileContents::Outcome::unusable;
    const std::string name = path.string();
    auto ignore = [&](const std::string& why) {
        logf("ignoring the saved state in \"%s\": %s; starting with the defaults", name.c_str(),
             why.c_str());
        return result;
    };
    if (!fs::is_regular_file(status)) return ignore("not a regular file");
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) return ignore(systemError("cannot read it"));
    std::string text(kLargestStateFile + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return ignore("cannot read it");
    if (text.size() > kLargestStateFile) return ignore("far too long to be ours");

    ParsedState parsed = parseState(text);
    if (parsed.outcome != ParsedState::Outcome::ok) return ignore(parsed.problem);
    if (!parsed.refused.empty()) {
        std::string keys;
        for (const std::string& key : parsed.refused) keys += (keys.empty() ? "" : ", ") + key;
        logf("the saved state's values for %s cannot be read: they start as usual", keys.c_str());
    }
    result.outcome = StateFileContents::Outcome::ok;
    result.state = std::move(parsed.state);
    return result;
}

bool writeFileAtomically(const fs::path& path, std::string_view text, std::string& error,
                         const std::function<void()>& beforeRename) {
    std::error_code ec;
    const fs::path folder = path.parent_path();
    if (fs::create_directories(folder, ec)) {
        fs::permissions(folder, fs::perms::owner_all, ec);  // as the base directories ask
    }
    if (ec) {
        error = "cannot create \"" + folder.string() + "\": " + ec.message();
        return false;
    }
    const fs::path temporary = temporaryFor(path, static_cast<long>(::getpid()));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = systemError(("cannot create \"" + temporary.string() + "\"").c_str());
        return false;
    }
    bool ok = writeAll(fd, text);
    if (!ok) error = systemError(("cannot write \"" + temporary.string() + "\"").c_str());
    if (ok && ::fsync(fd) != 0) {
        error = systemError(("cannot flush \"" + temporary.string() + "\"").c_str());
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = systemError(("cannot close \"" + temporary.string() + "\"").c_str());
        ok = false;
    }
    if (ok && beforeRename) beforeRename();
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = systemError(("cannot replace \"" + path.string() + "\"").c_str());
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void removeStaleTemporaries(const fs::path& path) {
    const std::string prefix = path.filename().string() + ".";
    std::error_code ec;
    for (fs::directory_iterator it(path.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix) || !name.ends_with(kTemporarySuffix)) continue;
        const std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - std::strlen(kTemporarySuffix));
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const long pid = std::strtol(digits.c_str(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still there
        std::error_code ignored;
        fs::remove(it->path(), ignored);
    }
}

}  // namespace vornik
