#pragma once
// A capture source that plays a WAV file (or any file libsndfile reads) into the recorder, for
// tests and the headless renderer. It has no thread of its own: pump() feeds a given number of
// frames from the calling thread, so a run is the same every time.
//
// The file must be at 44,100 Hz (no resampling: another rate is refused with a log line). A mono
// file is copied to both channels; of a file with more channels, the first two are used.

#include <sndfile.h>

#include <cstddef>
#include <filesystem>
#include <vector>

#include "sample/CaptureSource.h"

namespace vornik {

class FileCaptureSource final : public CaptureSource {
public:
    // Frames handed to the sink per call.
    static constexpr std::size_t kPumpBlockFrames = 512;

    explicit FileCaptureSource(std::filesystem::path path);
    ~FileCaptureSource() override;
    FileCaptureSource(const FileCaptureSource&) = delete;
    FileCaptureSource& operator=(const FileCaptureSource&) = delete;

    // The file the next start() opens. Thread: main.
    void setPath(std::filesystem::path path) { path_ = std::move(path); }
    const std::filesystem::path& path() const { return path_; }

    // Opens the file from its beginning. Thread: main.
    bool start(CaptureSink& sink) override;
    void stop() override;

    // Feeds up to `frames` frames to the sink, in blocks, waiting for the sink's room so that
    // nothing is dropped (it gives up waiting after a long stall and lets the sink drop).
    // Returns the frames delivered: fewer at the end of the file, 0 when not started.
    // Thread: the one that started it (it is this source's capture thread).
    std::size_t pump(std::size_t frames);

    // Thread: the one that pumps.
    bool started() const { return file_ != nullptr; }
    bool atEnd() const { return file_ == nullptr || atEnd_; }

private:
    std::filesystem::path path_;
    CaptureSink* sink_ = nullptr;
    SNDFILE* file_ = nullptr;
    int fileChannels_ = 0;
    bool atEnd_ = false;
    std::vector<float> fileBlock_;    // frames as the file has them
    std::vector<float> stereoBlock_;  // the same frames as stereo
};

}  // namespace vornik
