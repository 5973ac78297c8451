#pragma once
// The recorder: audio from a capture source (the default input, or a file) into "recording.wav",
// 16-bit PCM WAV, 2 channels, 44,100 Hz, with a level meter.
//
// Three threads: the capture side only copies frames into a lock-free ring and adds to the
// meter; a writer thread drains the ring into a temporary file beside "recording.wav"; the main
// thread starts and stops. Only a finished, closed recording becomes a take: it is kept in the
// takes folder under its own name, then renamed over "recording.wav". A recording that fails or
// is cut off never leaves a truncated file, and no earlier take is ever destroyed.

#include <sndfile.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/Constants.h"
#include "sample/CaptureSource.h"
#include "sample/RecorderMeter.h"
#include "sample/RecorderRing.h"
#include "sample/Takes.h"

namespace vornik {

class Recorder final : public CaptureSink {
public:
    static constexpr std::string_view kFileName = "recording.wav";
    // How far the writer may fall behind the input before frames drop: 4 seconds.
    static constexpr std::size_t kRingFrames = 4 * kRecordingSampleRate;
    static constexpr std::size_t kWriterBlockFrames = 4096;

    // `directory`: where "recording.wav" goes; empty for the documents directory, looked up on
    // first use. `source`: null for the default input device. Thread: main.
    explicit Recorder(std::filesystem::path directory = {},
                      std::unique_ptr<CaptureSource> source = nullptr,
                      std::size_t ringFrames = kRingFrames);
    // A running recording is stopped and its file finished.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // The path of "recording.wav". Thread: main.
    const std::filesystem::path& url() const;

    CaptureSource& source() { return *source_; }  // Thread: main

    // Makes the directory if missing, removes temporary files that killed programs left there,
    // and creates the temporary file the next recording goes into; "recording.wav" itself is not
    // touched. False, with a log line, on failure. Thread: main.
    bool prepareToRecord();

    // Starts recording, preparing first if needed. False, with a log line, when the file cannot
    // be prepared or the input cannot be opened; then nothing runs and nothing on disk changed.
    // True without effect while already recording. Thread: main.
    bool record();

    // Stops recording. Returns only when the file is complete and closed: true when the take
    // was written completely (lastTake() holds it; "recording.wav" too, unless the previous one
    // could not be kept); false when no recording ran, nothing was captured or writing failed,
    // and then nothing on disk changed. Thread: main.
    bool stop();

    // The last complete take under its permanent name ("Vornik takes/recording-....wav"; only
    // "recording.wav" if the takes folder could not hold it); empty before the first.
    // Thread: main.
    const std::filesystem::path& lastTake() const { return lastTake_; }
    // Why the last start or stop failed, in plain words; empty when it did not. Thread: main.
    const std::string& failure() const { return failure_; }

    bool isRecording() const { return recording_; }  // Thread: main

    // The meter: refresh, then read a channel in dB relative to full scale (-160 to 0), over the
    // audio captured since the previous refresh. Thread: main.
    void updateMeters() { meter_.update(); }
    float averagePowerForChannel(int channel) const { return meter_.averagePower(channel); }

    // Frames that went into the file, and frames the full ring dropped, in the last recording
    // (the one running, or the one stopped last). Thread: main, after stop().
    std::uint64_t framesRecorded() const { return framesWritten_; }
    std::uint64_t droppedFrames() const { return ring_.droppedFrames(); }

    // The capture side: copy into the ring and add to the meter. Never allocates, locks, logs or
    // waits. Thread: capture.
    void captureFrames(const float* interleaved, std::size_t frames) noexcept override;
    std::size_t captureRoom() const noexcept override { return ring_.writableFrames(); }

private:
    void writerLoop();
    void drain();
    void stopWriter();
    void discardPrepared();
    bool finishFile();
    bool previousKept(const std::filesystem::path& takes);
    bool fail(std::string why);

    mutable std::filesystem::path directory_;
    mutable std::filesystem::path url_;
    std::unique_ptr<CaptureSource> source_;
    FrameRing ring_;
    RecorderMeter meter_;
    std::atomic<bool> accepting_{false};
    bool recording_ = false;

    // The prepared file: temporary path, descriptor and libsndfile handle.
    std::filesystem::path tempPath_;
    int fd_ = -1;
    SNDFILE* file_ = nullptr;
    std::time_t startedAt_ = 0;
    std::filesystem::path lastTake_;
    std::string failure_;

    // Writer thread. The flag is guarded by the mutex; the results are the writer's while it
    // runs and read by the main thread after it is joined.
    std::thread writer_;
    std::mutex writerMutex_;
    std::condition_variable writerWake_;
    bool stopRequested_ = false;
    std::vector<float> writerBlock_;
    std::uint64_t framesWritten_ = 0;
    bool writeFailed_ = false;
    int writeErrno_ = 0;
};

}  // namespace vornik
