#pragma once
// Plays a script on the real instrument on a virtual clock and writes what was heard and seen.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Script.h"
#include "base/RunLoop.h"

#include <functional>
#include <map>

#include "app/MidiHost.h"
#include "app/WindowController.h"

namespace vornik {
class FileCaptureSource;
}  // namespace vornik

namespace vornik::render {

class Session {
public:
    static constexpr int kBlockFrames = 64;    // the graph is pulled in device-sized blocks
    static constexpr int kUpdateFrames = 800;  // one display frame at 60 Hz of rendered time
    static constexpr double kSnapshotZoom = 2.0;

    static constexpr int kSinkFrames = 4096;  // frames handed to the sink at a time
    static_assert(kSinkFrames % kBlockFrames == 0);

    // Receives the final mix as it is rendered, in order: `frames` interleaved stereo frames at
    // 48 kHz. False stops the render (the output could not be written).
    using MixSink = std::function<bool(const float* interleaved, int frames)>;

    // `input`: a WAV file the recorder hears instead of a microphone (empty: silence).
    // `recordDir`: an existing folder of the caller's own, where microphone takes are written.
    // `takes`: where output takes go (empty: the documents folder's takes folder).
    Session(const Script& script, std::filesystem::path input, std::filesystem::path recordDir,
            std::filesystem::path takes = {});
    ~Session();

    // Renders the whole script into `sink` a stretch at a time, so memory stays flat however
    // long the script is. False after a fault that was logged (an unwritable snapshot, say) or
    // when the sink refused.
    bool run(const MixSink& sink);

    // Voices still switched on. Thread: main, after run().
    int activeVoices() const;

private:
    void apply(const Command& c);
    void touch(const Command& c);
    void set(const Command& c);
    void writeDump(const std::filesystem::path& path);
    void writeSnapshot(const std::filesystem::path& path);
    void reportTakes();

    const Script& script_;
    ManualClock clock_;
    RunLoop loop_{clock_};
    std::filesystem::path recordDir_;
    // What the microphone hears, fed block by block from the render loop: the --input file, or
    // silence. Owned by the view's recorder.
    std::function<void(std::size_t frames)> pumpInput_;
    std::unique_ptr<WindowController> controller_;
    std::unique_ptr<Keys> keys_;
    std::unique_ptr<MidiHost> midi_;  // the default map: scripts play the same everywhere
    MainView* view_ = nullptr;  // owned by the controller
    struct Finger {
        TouchId id;
        Point location;
    };
    std::map<long, Finger> fingers_;  // the script's fingers that are down
    TouchId nextTouchId_ = 1;
    int takesReported_ = 0;
    bool ok_ = true;
};

}  // namespace vornik::render
