#pragma once
// Records what the instrument plays: the final mix, after the effects, into a take of its own in
// the takes folder, "Vornik takes/performance-YYYYMMDD-HHMMSS.wav" (48 kHz stereo WAV).
//
// The samples are 32-bit float, not 24-bit PCM: the take is the mix bit for bit, peaks above
// full scale included (nothing clips the mix before the device), so a take turned into the sample
// gains no clipping or rounding, and neither the audio thread nor the writer converts anything.
//
// Three threads: the audio thread only copies each rendered block into a lock-free ring; a writer
// thread drains the ring into a temporary file in the takes folder and, once the take stops,
// finishes it (with the hits marked as WAV cue points) and renames it to its own name; the main
// thread starts, marks hits, stops and collects the result. A write error (a full disk) ends the
// writing: what was written up to then stays a valid file.

#include <sndfile.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "audio/AudioGraph.h"
#include "base/Constants.h"
#include "sample/AudioFileReader.h"
#include "sample/RecorderRing.h"

namespace vornik {

class OutputRecorder final : public MixListener {
public:
    static constexpr std::string_view kTakePrefix = "performance";
    // How far the writer may fall behind the mix before frames drop: 8 seconds.
    static constexpr std::size_t kRingFrames = 8 * static_cast<std::size_t>(kOutputSampleRate);
    static constexpr std::size_t kWriterBlockFrames = 4096;
    // A WAV file's sizes are 32-bit: a take stops just short of 4 GiB (about 3 hours).
    static constexpr std::uint64_t kMaxTakeFrames = (std::uint64_t{0xFFFFFFFF} - 65536) / 8;

    // How a take ended, once its file is finished.
    struct Take {
        std::filesystem::path path;       // the take; empty when nothing was kept
        std::uint64_t frames = 0;         // in the file
        std::uint64_t droppedFrames = 0;  // lost because the writer fell behind
        std::size_t cues = 0;             // hits marked in the file
        std::string problem;              // what went wrong, in plain words; empty when nothing did
    };

    // `takesDirectory`: where takes go; empty for the documents folder's takes folder, looked up
    // at the first take. Thread: main.
    explicit OutputRecorder(std::filesystem::path takesDirectory = {},
                            std::size_t ringFrames = kRingFrames,
                            std::uint64_t maxTakeFrames = kMaxTakeFrames);
    // A take still running is stopped and finished.
    ~OutputRecorder();
    OutputRecorder(const OutputRecorder&) = delete;
    OutputRecorder& operator=(const OutputRecorder&) = delete;

    // --- Main thread ---------------------------------------------------------------------------
    // Where the next take goes (a take under way keeps its folder).
    void setTakesDirectory(std::filesystem::path directory) { directory_ = std::move(directory); }
    const std::filesystem::path& takesDirectory() const;

    // Starts a take with the next block the graph renders. A previous take still being finished
    // is waited for (and its result kept for collectFinished). False, with failure(), when the
    // folder or the file cannot be made; then nothing runs.
    bool start();
    // Ends the take after the last block rendered; the writer finishes the file on its own
    // thread (collectFinished tells when). Nothing without a take.
    void stop();
    bool isRecording() const { return recording_; }
    // The writer could not write (a full disk): the take should stop; nothing more is written.
    bool writeFailed() const { return writeFailed_.load(std::memory_order_acquire); }
    // A voice started now: a cue point at the take's current frame.
    void markCue();
    // True once per take, when its file is finished or given up: then lastTake() says how it
    // went.
    bool collectFinished();
    // Blocks until the stopped take's file is finished (tests, the headless renderer).
    void waitFinished();
    const Take& lastTake() const { return lastTake_; }
    // Why the last start failed, in plain words.
    const std::string& failure() const { return failure_; }

    // --- Any thread ----------------------------------------------------------------------------
    // Frames of the mix stored for the take so far.
    std::uint64_t framesCaptured() const { return captured_.load(std::memory_order_acquire); }
    // Frames the ring can take now without dropping.
    std::size_t captureRoom() const { return ring_.writableFrames(); }

    // --- Audio thread --------------------------------------------------------------------------
    // Copies the block into the ring while a take runs. Never allocates, locks, logs or waits.
    void mixRendered(const float* left, const float* right, int frames) noexcept override;

private:
    struct File {
        std::filesystem::path path;
        int fd = -1;
        SNDFILE* sf = nullptr;
    };

    static File createTemporary(const std::filesystem::path& directory,
                                const std::vector<std::uint32_t>* cues, std::string& why);
    static void discard(File& file);
    void writerLoop();
    void drain();
    void finish();
    bool copyWithCues(File& plain, const std::vector<std::uint32_t>& cues, std::string& why);
    bool keep(File& file);

    mutable std::filesystem::path directory_;
    FrameRing ring_;
    const std::uint64_t maxTakeFrames_;

    // Audio side: the take is open to blocks while `accepting_`; `inBlock_` is set around each
    // block's copy so that stop() can wait until no copy is under way.
    std::atomic<bool> accepting_{false};
    std::atomic<bool> inBlock_{false};
    std::atomic<std::uint64_t> captured_{0};

    // Main side.
    bool recording_ = false;
    std::vector<std::uint32_t> cues_;
    bool cuesFull_ = false;
    std::string failure_;
    Take lastTake_;
    bool collected_ = true;

    // The writer: the flag and the hand-over of the cues are guarded by the mutex; the rest is
    // the writer's while it runs and the main thread's once `finished_` is set.
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopRequested_ = false;
    std::vector<std::uint32_t> finishCues_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> writeFailed_{false};
    std::filesystem::path folder_;  // the take's
    std::time_t startedAt_ = 0;
    File file_;
    std::vector<float> block_;
    std::uint64_t written_ = 0;
    Take result_;
};

}  // namespace vornik
