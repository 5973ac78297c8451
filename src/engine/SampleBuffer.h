#pragma once
// The sample as the mixer reads it: one immutable snapshot, published through an atomic pointer.
//
// The main thread builds a snapshot, publishes it, and frees the one it replaced only once the
// audio thread can no longer hold it. The audio thread takes one snapshot per render call and
// marks it as in use while it reads (a single-reader hazard pointer), so a replaced snapshot is
// freed safely even when no render calls run at all (no device, a stalled driver).

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace vornik {

struct SampleSnapshot {
    // The decoded planes; `left` and `right` point into it (the same plane for a mono file).
    std::shared_ptr<const float[]> storage;
    const float* left = nullptr;
    const float* right = nullptr;
    std::uint32_t capacity = 0;          // frames each plane holds; bounds every read
    std::uint32_t fileBufferLength = 0;  // the wrap-around length of slicer and tape voices
    // Frames holding decoded audio. After a short read the rest, up to the capacity, is silence
    // that was never touched: scans stop here, so a header that claims far more frames than the
    // file holds costs no memory beyond what was decoded.
    std::uint32_t filledFrames = 0;

    // The open file, if any: false before the first load and after a failed open, when the
    // previous planes may still be here (drawn, never played).
    bool loaded = false;
    std::int64_t fileLength = 0;  // frames, as the file reports it
    double sampleRate = 0.0;      // the file's own rate, Hz
    int channels = 0;
    // The file's cue points (marked hits), as frames inside it, ascending and all different;
    // empty for a file without any. Never read by the audio thread.
    std::vector<std::uint32_t> cues;

    // True when the mixer has something to play.
    bool playable() const { return loaded && fileLength != 0 && capacity != 0; }
};

// A loaded sample over `channels` planes of `frames` floats each, laid one after the other in
// `storage`. Left is plane 0; right is plane 1, or plane 0 again for a mono file.
std::unique_ptr<SampleSnapshot> makeLoadedSnapshot(std::shared_ptr<const float[]> storage,
                                                   std::uint32_t frames, int channels,
                                                   double sampleRate);

class SampleStore {
public:
    SampleStore();
    ~SampleStore();
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    // The current snapshot, never null (an empty one before the first load). Thread: main.
    const SampleSnapshot& current() const { return *current_.load(std::memory_order_acquire); }

    // Replaces the current snapshot; the old one is freed once no render call holds it.
    // Thread: main.
    void publish(std::unique_ptr<SampleSnapshot> next);

    // Frees replaced snapshots that the audio thread no longer holds; the display update calls
    // it every frame, so nothing is left waiting for the next load. Thread: main.
    void collect();
    std::size_t retiredCount() const { return retired_.size(); }

    // Audio thread: take the current snapshot for one render call, and let it go at its end.
    const SampleSnapshot* acquireForRender();
    void releaseFromRender();

private:
    std::atomic<const SampleSnapshot*> current_;
    std::atomic<const SampleSnapshot*> inUse_{nullptr};
    std::vector<std::unique_ptr<const SampleSnapshot>> retired_;
};

}  // namespace vornik
