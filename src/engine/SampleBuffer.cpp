#include "engine/SampleBuffer.h"

#include <algorithm>

namespace vornik {

std::unique_ptr<SampleSnapshot> makeLoadedSnapshot(std::shared_ptr<const float[]> storage,
                                                   std::uint32_t frames, int channels,
                                                   double sampleRate) {
    auto s = std::make_unique<SampleSnapshot>();
    s->left = storage.get();
    s->right = channels >= 2 ? storage.get() + frames : storage.get();
    s->storage = std::move(storage);
    s->capacity = frames;
    s->fileBufferLength = frames;
    s->filledFrames = frames;
    s->loaded = true;
    s->fileLength = frames;
    s->sampleRate = sampleRate;
    s->channels = channels;
    return s;
}

SampleStore::SampleStore() : current_(new SampleSnapshot{}) {}

SampleStore::~SampleStore() {
    delete current_.load();
    // retired_ frees itself; no render call may run once the store is destroyed.
}

void SampleStore::publish(std::unique_ptr<SampleSnapshot> next) {
    const SampleSnapshot* old = current_.exchange(next.release(), std::memory_order_seq_cst);
    retired_.emplace_back(old);
    collect();
}

void SampleStore::collect() {
    if (retired_.empty()) return;  // every display frame asks
    const SampleSnapshot* held = inUse_.load(std::memory_order_seq_cst);
    std::erase_if(retired_, [held](const auto& s) { return s.get() != held; });
}

const SampleSnapshot* SampleStore::acquireForRender() {
    // Mark the snapshot as in use, then check it is still current: if the main thread swapped
    // in between, it may already have judged the old one free, so take the new one instead.
    const SampleSnapshot* s = current_.load(std::memory_order_seq_cst);
    for (;;) {
        inUse_.store(s, std::memory_order_seq_cst);
        const SampleSnapshot* again = current_.load(std::memory_order_seq_cst);
        if (again == s) return s;
        s = again;
    }
}

void SampleStore::releaseFromRender() { inUse_.store(nullptr, std::memory_order_release); }

}  // namespace vornik
