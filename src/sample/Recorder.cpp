#include "sample/Recorder.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/Log.h"
#include "sample/CaptureSourceDevice.h"

namespace vornik {
namespace {

// How often the writer looks into the ring when it is not woken: far within the ring's length.
constexpr auto kWriterPoll = std::chrono::milliseconds(5);

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/tmp";
}

std::string readWholeFile(const std::filesystem::path& path) {
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

std::atomic<unsigned> gTempCounter{0};

}  // namespace

std::filesystem::path documentsDirectoryFrom(std::string_view xdgUserDirOutput,
                                             std::string_view userDirsFile,
                                             const std::filesystem::path& home) {
    const std::string_view tool = trim(xdgUserDirOutput);
    if (!tool.empty() && tool.front() == '/') return std::filesystem::path(tool);

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
        if (value.substr(0, kHome.size()) == kHome &&
            (value.size() == kHome.size() || value[kHome.size()] == '/')) {
            std::string full = home.string();
            full.append(value.substr(kHome.size()));
            return std::filesystem::path(full).lexically_normal();
        }
        if (!value.empty() && value.front() == '/') return std::filesystem::path(value);
    }
    return home / "Documents";
}

std::filesystem::path documentsDirectory() {
    const std::filesystem::path home = homeDirectory();
    std::filesystem::path config = home / ".config";
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    }
    return documentsDirectoryFrom(runXdgUserDir(), readWholeFile(config / "user-dirs.dirs"), home);
}

Recorder::Recorder(std::filesystem::path directory, std::unique_ptr<CaptureSource> source,
                   std::size_t ringFrames)
    : directory_(std::move(directory)),
      source_(source ? std::move(source) : std::make_unique<DeviceCaptureSource>()),
      ring_(ringFrames),
      writerBlock_(kWriterBlockFrames * kRecordingChannels) {}

Recorder::~Recorder() {
    stop();
    discardPrepared();
}

const std::filesystem::path& Recorder::url() const {
    if (url_.empty()) {
        if (directory_.empty()) directory_ = documentsDirectory();
        url_ = directory_ / kFileName;
    }
    return url_;
}

bool Recorder::prepareToRecord() {
    if (recording_) return true;
    discardPrepared();

    const std::filesystem::path directory = url().parent_path();
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error || !std::filesystem::is_directory(directory)) {
        logf("recording: cannot make the directory %s (%s)", directory.c_str(),
             error ? error.message().c_str() : "not a directory");
        return false;
    }

    // A name of our own beside the target, so the final rename stays on one file system.
    int fd = -1;
    std::filesystem::path temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = directory / (".recording-" + std::to_string(getpid()) + "-" +
                            std::to_string(gTempCounter.fetch_add(1)) + ".wav.part");
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        logf("recording: cannot create a file in %s (%s)", directory.c_str(), std::strerror(errno));
        return false;
    }

    SF_INFO info{};
    info.samplerate = kRecordingSampleRate;
    info.channels = kRecordingChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        logf("recording: cannot start the file %s (%s)", temp.c_str(), sf_strerror(nullptr));
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    // Loud input clips at full scale instead of wrapping around.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    tempPath_ = std::move(temp);
    fd_ = fd;
    file_ = file;
    return true;
}

bool Recorder::record() {
    if (recording_) return true;
    if (file_ == nullptr && !prepareToRecord()) return false;

    ring_.reset();
    meter_.reset();
    framesWritten_ = 0;
    writeFailed_ = false;
    stopRequested_ = false;
    try {
        writer_ = std::thread([this] { writerLoop(); });
    } catch (const std::system_error& e) {
        logf("recording: cannot start the writer (%s)", e.what());
        discardPrepared();
        return false;
    }

    accepting_.store(true, std::memory_order_release);
    if (!source_->start(*this)) {
        accepting_.store(false, std::memory_order_release);
        stopWriter();
        discardPrepared();
        return false;
    }
    recording_ = true;
    return true;
}

bool Recorder::stop() {
    if (!recording_) {
        discardPrepared();  // a prepared file that never recorded
        return false;
    }
    source_->stop();
    accepting_.store(false, std::memory_order_release);
    stopWriter();
    recording_ = false;

    if (writeFailed_) {
        discardPrepared();
        return false;
    }
    if (framesWritten_ == 0) {
        logf("recording: nothing was captured; %s stays as it was", url().c_str());
        discardPrepared();
        return false;
    }
    return finishFile();
}

void Recorder::captureFrames(const float* interleaved, std::size_t frames) noexcept {
    if (!accepting_.load(std::memory_order_acquire)) return;
    meter_.add(interleaved, frames);
    ring_.push(interleaved, frames);
}

void Recorder::writerLoop() {
    for (;;) {
        bool finishing;
        {
            std::unique_lock lock(writerMutex_);
            writerWake_.wait_for(lock, kWriterPoll, [this] { return stopRequested_; });
            finishing = stopRequested_;
        }
        // Once the stop is seen, the source has stopped: this drain takes the last frames.
        drain();
        if (finishing) break;
    }
    if (const std::uint64_t dropped = ring_.droppedFrames(); dropped > 0) {
        logf(
            "dropped %llu frames of input while recording: the writer fell behind, so the "
            "recording has gaps",
            static_cast<unsigned long long>(dropped));
    }
}

void Recorder::drain() {
    for (;;) {
        const std::size_t n = ring_.pop(writerBlock_.data(), kWriterBlockFrames);
        if (n == 0) return;
        if (writeFailed_) continue;  // keep emptying the ring so the capture side never fills up
        const sf_count_t written =
            sf_writef_float(file_, writerBlock_.data(), static_cast<sf_count_t>(n));
        if (written != static_cast<sf_count_t>(n)) {
            writeFailed_ = true;
            logf("recording: cannot write %s (%s); the previous recording is kept",
                 tempPath_.c_str(), sf_strerror(file_));
            continue;
        }
        framesWritten_ += n;
    }
}

void Recorder::stopWriter() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard lock(writerMutex_);
        stopRequested_ = true;
    }
    writerWake_.notify_one();
    writer_.join();
}

void Recorder::discardPrepared() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
}

bool Recorder::finishFile() {
    // Close (libsndfile writes the final header), reach the disk, then replace in one step.
    const int closeError = sf_close(file_);
    file_ = nullptr;
    if (closeError != 0) {
        logf("recording: cannot finish %s (%s); the previous recording is kept", tempPath_.c_str(),
             sf_error_number(closeError));
        discardPrepared();
        return false;
    }
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        logf("recording: cannot finish %s (%s); the previous recording is kept", tempPath_.c_str(),
             std::strerror(errno));
        fd_ = -1;
        discardPrepared();
        return false;
    }
    fd_ = -1;
    if (::rename(tempPath_.c_str(), url().c_str()) != 0) {
        // Keep the new recording where it is rather than lose it.
        logf("recording: cannot replace %s (%s); the new recording stays in %s", url().c_str(),
             std::strerror(errno), tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    tempPath_.clear();
    // The rename itself reaches the disk with the directory.
    if (const int dir = ::open(url().parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace vornik
