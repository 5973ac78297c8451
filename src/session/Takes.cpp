#include "session/Takes.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace vornik {
namespace {

namespace fs = std::filesystem;

bool sameBytes(const fs::path& a, const fs::path& b) {
    using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    File fa(std::fopen(a.c_str(), "rb"), std::fclose), fb(std::fopen(b.c_str(), "rb"), std::fclose);
    if (!fa || !fb) return false;
    char ba[1 << 15], bb[1 << 15];
    for (;;) {
        const std::size_t na = std::fread(ba, 1, sizeof ba, fa.get());
        const std::size_t nb = std::fread(bb, 1, sizeof bb, fb.get());
        if (na != nb || std::memcmp(ba, bb, na) != 0) return false;
        if (na == 0) return !std::ferror(fa.get()) && !std::ferror(fb.get());
    }
}

}  // namespace

fs::path permanentTakePath(const fs::path& sample, const fs::path& recordingFile) {
    std::error_code ec;
    if (recordingFile.empty() || !fs::equivalent(sample, recordingFile, ec)) return sample;
    const std::uintmax_t size = fs::file_size(recordingFile, ec);
    if (ec) return sample;
    fs::path best;
    fs::file_time_type bestTime{};
    for (fs::directory_iterator it(takesDirectory(recordingFile.parent_path()), ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code e;
        if (!it->is_regular_file(e) || it->file_size(e) != size) continue;
        const fs::file_time_type time = it->last_write_time(e);
        if (e || (!best.empty() && time <= bestTime)) continue;
        if (fs::equivalent(it->path(), recordingFile, e) || sameBytes(it->path(), recordingFile)) {
            best = it->path();
            bestTime = time;
        }
    }
    return best.empty() ? sample : best;
}

std::string TakePaths::keptPath(const std::string& sample, const fs::path& recordingFile) {
    std::error_code ec;
    const auto time = fs::last_write_time(recordingFile, ec);
    const auto size = ec ? 0 : fs::file_size(recordingFile, ec);
    // A take copied into the folder later changes the folder's time.
    const auto folderTime = fs::last_write_time(takesDirectory(recordingFile.parent_path()), ec);
    if (sample != sample_ || time != time_ || size != size_ || folderTime != folderTime_) {
        sample_ = sample;
        time_ = time;
        size_ = size;
        folderTime_ = folderTime;
        kept_ = permanentTakePath(sample, recordingFile).string();
    }
    return kept_;
}

}  // namespace vornik
