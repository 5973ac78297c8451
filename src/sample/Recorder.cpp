#include "sample/Recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "base/Log.h"
#include "sample/CaptureSourceDevice.h"

namespace vornik {
namespace {

// How often the writer looks into the ring when it is not woken: far within the ring's length.
constexpr auto kWriterPoll = std::chrono::milliseconds(5);

std::atomic<unsigned> gTempCounter{0};

}  // namespace

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

bool Recorder::fail(std::string why) {
    failure_ = std::move(why);
    return false;
}

bool Recorder::prepareToRecord() {
    if (recording_) return true;
    discardPrepared();
    failure_.clear();

    const std::filesystem::path directory = url().parent_path();
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error || !std::filesystem::is_directory(directory)) {
        const std::string why = error ? error.message() : "a file of that name is in the way";
        logf("recording: cannot make the directory %s (%s)", directory.c_str(), why.c_str());
        return fail("cannot make the folder " + directory.string() + " (" + why + ")");
    }
    removeStaleParts(directory);

    // A name of our own beside the target, so the final rename stays on one file system.
    int fd = -1;
    std::filesystem::path temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = directory / partFileName(getpid(), gTempCounter.fetch_add(1));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const std::string why = std::strerror(errno);
        logf("recording: cannot create a file in %s (%s)", directory.c_str(), why.c_str());
        return fail("cannot create a file in " + directory.string() + " (" + why + ")");
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
        return fail("cannot start a sound file in " + directory.string());
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
        return fail("the program could not start its writer");
    }

    accepting_.store(true, std::memory_order_release);
    if (!source_->start(*this)) {
        accepting_.store(false, std::memory_order_release);
        stopWriter();
        discardPrepared();
        return fail("no audio input could be opened");
    }
    startedAt_ = std::time(nullptr);
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
        return fail(writeErrno_ != 0 ? "it could not be written (" +
                                           std::string(std::strerror(writeErrno_)) + ")"
                                     : std::string("it could not be written"));
    }
    if (framesWritten_ == 0) {
        logf("recording: nothing was captured; %s stays as it was", url().c_str());
        discardPrepared();
        return fail("nothing was captured");
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
            writeErrno_ = errno;
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
    // Close (libsndfile writes the final header) and reach the disk.
    const int closeError = sf_close(file_);
    file_ = nullptr;
    std::string why;
    if (closeError != 0) {
        why = sf_error_number(closeError);
    } else if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        why = std::strerror(errno);
    }
    fd_ = -1;
    if (!why.empty()) {
        logf("recording: cannot finish %s (%s); the previous recording is kept", tempPath_.c_str(),
             why.c_str());
        discardPrepared();
        return fail("it could not be finished (" + why + ")");
    }

    // The take gets its permanent name first, then becomes "recording.wav".
    const std::filesystem::path takes = takesDirectory(url().parent_path());
    lastTake_ = keepTake(tempPath_, takes, "recording", startedAt_, why);
    if (lastTake_.empty()) {
        logf("recording: cannot keep the take in %s (%s)", takes.c_str(), why.c_str());
    }
    const bool replace = previousKept(takes);
    if (replace && ::rename(tempPath_.c_str(), url().c_str()) == 0) {
        tempPath_.clear();
        if (lastTake_.empty()) lastTake_ = url();
    } else if (!lastTake_.empty()) {
        if (replace) {
            logf("recording: cannot replace %s (%s); the new recording is %s", url().c_str(),
                 std::strerror(errno), lastTake_.c_str());
        }
        discardPrepared();  // the take holds it
    } else {
        // Nowhere else to go: the new recording stays where it is rather than be lost.
        logf("recording: cannot replace %s; the new recording stays in %s", url().c_str(),
             tempPath_.c_str());
        lastTake_ = tempPath_;
        tempPath_.clear();
    }
    // The new names reach the disk with their directories.
    for (const auto& dir : {url().parent_path(), takes}) {
        if (const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    return true;
}

bool Recorder::previousKept(const std::filesystem::path& takes) {
    struct stat st {};
    if (::stat(url().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || isKeptIn(url(), takes)) {
        return true;
    }
    // A "recording.wav" from before takes were kept, or whose take was deleted.
    std::string why;
    if (!keepTake(url(), takes, "recording", st.st_mtim.tv_sec, why).empty()) return true;
    logf("recording: cannot keep the previous %s in %s (%s); it stays as it was", url().c_str(),
         takes.c_str(), why.c_str());
    return false;
}

}  // namespace vornik
