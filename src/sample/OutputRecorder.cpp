#include "sample/OutputRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "base/Log.h"
#include "sample/Takes.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

constexpr auto kWriterPoll = std::chrono::milliseconds(5);  // far within the ring's length
constexpr std::uint32_t kDataChunk = 0x61746164;            // "data", as libsndfile stores it

std::atomic<unsigned> gTempCounter{0};

// A write error as the user would say it.
std::string writeError(int error) {
    if (error == ENOSPC || error == EDQUOT) return "the disk is full";
    return std::strerror(error);
}

void syncDirectory(const fs::path& directory) {
    if (const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace

OutputRecorder::OutputRecorder(fs::path takesDirectory, std::size_t ringFrames,
                               std::uint64_t maxTakeFrames)
    : directory_(std::move(takesDirectory)),
      ring_(ringFrames),
      maxTakeFrames_(maxTakeFrames),
      block_(kWriterBlockFrames * kOutputChannels) {}

OutputRecorder::~OutputRecorder() {
    stop();
    if (writer_.joinable()) writer_.join();
}

const fs::path& OutputRecorder::takesDirectory() const {
    if (directory_.empty()) directory_ = vornik::takesDirectory(documentsDirectory());
    return directory_;
}

bool OutputRecorder::start() {
    if (recording_) return true;
    waitFinished();
    failure_.clear();
    std::error_code ec;
    fs::create_directories(takesDirectory(), ec);
    if (ec || !fs::is_directory(takesDirectory())) {
        failure_ = "cannot make the folder " + takesDirectory().string() + " (" +
                   (ec ? ec.message() : "a file of that name is in the way") + ")";
        logf("recording the output: %s", failure_.c_str());
        return false;
    }
    file_ = createTemporary(takesDirectory(), nullptr, failure_);
    if (file_.sf == nullptr) {
        logf("recording the output: %s", failure_.c_str());
        return false;
    }

    ring_.reset();
    captured_.store(0, std::memory_order_relaxed);
    cues_.clear();
    cuesFull_ = false;
    folder_ = takesDirectory();
    written_ = 0;
    result_ = Take{};
    stopRequested_ = false;
    finished_.store(false, std::memory_order_relaxed);
    writeFailed_.store(false, std::memory_order_relaxed);
    startedAt_ = std::time(nullptr);
    try {
        writer_ = std::thread([this] { writerLoop(); });
    } catch (const std::system_error& e) {
        failure_ = std::string("cannot start the writer (") + e.what() + ")";
        logf("recording the output: %s", failure_.c_str());
        discard(file_);
        return false;
    }
    accepting_.store(true, std::memory_order_seq_cst);
    recording_ = true;
    return true;
}

void OutputRecorder::stop() {
    if (!recording_) return;
    recording_ = false;
    // After this no block is copied: either the audio thread sees the flag down, or this
    // thread sees its copy under way and waits the few microseconds it takes.
    accepting_.store(false, std::memory_order_seq_cst);
    while (inBlock_.load(std::memory_order_seq_cst)) std::this_thread::yield();
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        finishCues_ = std::move(cues_);
    }
    cues_.clear();
    wake_.notify_one();
}

void OutputRecorder::markCue() {
    if (!recording_) return;
    const std::uint64_t at = captured_.load(std::memory_order_acquire);
    // Voices started in the same block share one mark.
    if (!cues_.empty() && cues_.back() == at) return;
    if (cues_.size() == kMaxCuePoints) {
        if (!cuesFull_)
            logf("recording the output: only the first %zu hits are marked", kMaxCuePoints);
        cuesFull_ = true;
        return;
    }
    cues_.push_back(static_cast<std::uint32_t>(at));
}

bool OutputRecorder::collectFinished() {
    if (writer_.joinable() && !recording_ && finished_.load(std::memory_order_acquire)) {
        writer_.join();
        lastTake_ = std::move(result_);
        collected_ = false;
    }
    if (collected_) return false;
    collected_ = true;
    return true;
}

void OutputRecorder::waitFinished() {
    if (recording_ || !writer_.joinable()) return;
    writer_.join();
    lastTake_ = std::move(result_);
    collected_ = false;
}

void OutputRecorder::mixRendered(const float* left, const float* right, int frames) noexcept {
    inBlock_.store(true, std::memory_order_seq_cst);
    if (frames > 0 && accepting_.load(std::memory_order_seq_cst)) {
        const std::size_t n = ring_.pushPlanar(left, right, static_cast<std::size_t>(frames));
        captured_.store(captured_.load(std::memory_order_relaxed) + n, std::memory_order_release);
    }
    inBlock_.store(false, std::memory_order_release);
}

// --- The writer thread -----------------------------------------------------------------------

OutputRecorder::File OutputRecorder::createTemporary(const fs::path& directory,
                                                     const std::vector<std::uint32_t>* cues,
                                                     std::string& why) {
    File f;
    for (int attempt = 0; attempt < 100 && f.fd < 0; ++attempt) {
        std::string name(".");
        name.append(kTakePrefix).append("-").append(std::to_string(getpid()));
        name.append("-").append(std::to_string(gTempCounter.fetch_add(1))).append(".wav.part");
        f.path = directory / name;
        f.fd = ::open(f.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f.fd < 0 && errno != EEXIST) break;
    }
    if (f.fd < 0) {
        why = "cannot create a file in " + directory.string() + " (" + writeError(errno) + ")";
        f.path.clear();
        return f;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(kOutputSampleRate);
    info.channels = kOutputChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    f.sf = sf_open_fd(f.fd, SFM_WRITE, &info, SF_FALSE);
    if (f.sf == nullptr) {
        why = std::string("cannot start the file (") + sf_strerror(nullptr) + ")";
        discard(f);
        return f;
    }
    if (cues != nullptr && !cues->empty()) {
        // SF_CUES with as many points as needed: the count, then the points.
        const std::size_t n = cues->size();
        std::vector<std::uint32_t> words(1 + n * sizeof(SF_CUE_POINT) / sizeof(std::uint32_t));
        words[0] = static_cast<std::uint32_t>(n);
        auto* points = reinterpret_cast<SF_CUE_POINT*>(words.data() + 1);
        for (std::size_t k = 0; k < n; ++k) {
            points[k] = SF_CUE_POINT{};
            points[k].indx = static_cast<std::int32_t>(k + 1);
            points[k].position = (*cues)[k];
            points[k].fcc_chunk = kDataChunk;
            points[k].sample_offset = (*cues)[k];
        }
        if (sf_command(f.sf, SFC_SET_CUE, words.data(),
                       static_cast<int>(words.size() * sizeof(std::uint32_t))) != SF_TRUE) {
            why = std::string("cannot mark the hits (") + sf_strerror(f.sf) + ")";
            discard(f);
        }
    }
    return f;
}

void OutputRecorder::discard(File& file) {
    if (file.sf != nullptr) sf_close(file.sf);
    file.sf = nullptr;
    if (file.fd >= 0) ::close(file.fd);
    file.fd = -1;
    if (!file.path.empty()) ::unlink(file.path.c_str());
    file.path.clear();
}

void OutputRecorder::writerLoop() {
    for (;;) {
        bool finishing;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kWriterPoll, [this] { return stopRequested_; });
            finishing = stopRequested_;
        }
        // Once the stop is seen no block comes any more: this drain takes the last frames.
        drain();
        if (finishing) break;
    }
    finish();
    finished_.store(true, std::memory_order_release);
}

void OutputRecorder::drain() {
    for (;;) {
        const std::size_t n = ring_.pop(block_.data(), kWriterBlockFrames);
        if (n == 0) return;
        if (writeFailed_.load(std::memory_order_relaxed)) continue;  // keep the ring empty
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::uint64_t>(n, maxTakeFrames_ - written_));
        errno = 0;
        const sf_count_t done =
            room > 0 ? sf_writef_float(file_.sf, block_.data(), static_cast<sf_count_t>(room)) : 0;
        const int error = errno;
        if (done > 0) written_ += static_cast<std::uint64_t>(done);
        if (static_cast<std::size_t>(done) != room) {
            result_.problem = writeError(error != 0 ? error : EIO);
            logf("recording the output: cannot write %s (%s); the take stops here",
                 file_.path.c_str(), sf_strerror(file_.sf));
        } else if (room < n) {
            result_.problem = "the take reached the longest a WAV file can hold";
            logf("recording the output: %s", result_.problem.c_str());
        } else {
            continue;
        }
        writeFailed_.store(true, std::memory_order_release);
    }
}

void OutputRecorder::finish() {
    std::vector<std::uint32_t> cues;
    {
        std::lock_guard lock(mutex_);
        cues = std::move(finishCues_);
    }
    result_.frames = written_;
    result_.droppedFrames = ring_.droppedFrames();
    if (result_.droppedFrames > 0) {
        logf("recording the output: %llu frames were lost because the writer fell behind",
             static_cast<unsigned long long>(result_.droppedFrames));
    }
    // Closing writes the final header in place: it needs no new room, even on a full disk.
    const int closeError = sf_close(file_.sf);
    file_.sf = nullptr;
    if (closeError != 0) {
        result_.problem =
            std::string("cannot finish the file (") + sf_error_number(closeError) + ")";
        logf("recording the output: %s", result_.problem.c_str());
        discard(file_);
        return;
    }
    if (written_ == 0) {
        if (result_.problem.empty()) result_.problem = "nothing was recorded";
        discard(file_);
        return;
    }
    // A voice started after the last block marks nothing the take holds.
    while (!cues.empty() && cues.back() >= written_) cues.pop_back();
    // libsndfile takes cue points only before the audio: the marked take is a copy. On a
    // disk that filled up there is no room for it; the take stays unmarked.
    if (!cues.empty() && !writeFailed_.load(std::memory_order_relaxed)) {
        std::string why;
        if (copyWithCues(file_, cues, why)) {
            result_.cues = cues.size();
        } else {
            logf("recording the output: the hits are not marked: %s", why.c_str());
            result_.problem = "its hits could not be marked (" + why + ")";
        }
    }
    if (!keep(file_)) result_.problem = "it could not be given its name";
}

bool OutputRecorder::copyWithCues(File& plain, const std::vector<std::uint32_t>& cues,
                                  std::string& why) {
    File marked = createTemporary(folder_, &cues, why);
    if (marked.sf == nullptr) return false;
    SF_INFO info{};
    SNDFILE* in = sf_open(plain.path.c_str(), SFM_READ, &info);
    bool ok = in != nullptr;
    if (!ok) why = std::string("cannot read the take back (") + sf_strerror(nullptr) + ")";
    while (ok) {
        const sf_count_t n =
            sf_readf_float(in, block_.data(), static_cast<sf_count_t>(kWriterBlockFrames));
        if (n <= 0) break;
        errno = 0;
        if (sf_writef_float(marked.sf, block_.data(), n) != n) {
            why = writeError(errno != 0 ? errno : EIO);
            ok = false;
        }
    }
    if (in != nullptr) sf_close(in);
    const int closeError = sf_close(marked.sf);
    marked.sf = nullptr;
    if (ok && closeError != 0) {
        why = sf_error_number(closeError);
        ok = false;
    }
    if (!ok) {
        discard(marked);
        return false;
    }
    discard(plain);
    plain = std::move(marked);
    return true;
}

bool OutputRecorder::keep(File& file) {
    if (::fsync(file.fd) != 0) {
        logf("recording the output: cannot flush %s (%s)", file.path.c_str(), std::strerror(errno));
    }
    ::close(file.fd);
    file.fd = -1;
    std::tm local{};
    localtime_r(&startedAt_, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
    const std::string base = std::string(kTakePrefix) + stamp;
    for (int n = 1; n < 1000; ++n) {
        std::string name = base;
        if (n > 1) name.append("-").append(std::to_string(n));
        const fs::path take = folder_ / name.append(".wav");
        // A link never replaces a take of the same second; then the temporary name goes.
        if (::link(file.path.c_str(), take.c_str()) == 0) {
            ::unlink(file.path.c_str());
        } else if (errno == EEXIST) {
            continue;
        } else {
            // No links on this file system (some removable ones): a rename, if the name is free.
            std::error_code ec;
            if (fs::exists(take, ec)) continue;
            if (::rename(file.path.c_str(), take.c_str()) != 0) break;
        }
        syncDirectory(folder_);
        result_.path = take;
        file.path.clear();
        return true;
    }
    // The take is not lost: it stays under its temporary name.
    logf("recording the output: cannot name the take; it stays in %s", file.path.c_str());
    result_.path = file.path;
    file.path.clear();
    return false;
}

}  // namespace vornik
