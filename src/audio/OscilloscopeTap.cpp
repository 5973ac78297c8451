#include "audio/OscilloscopeTap.h"

#include <algorithm>

namespace vornik {

void OscilloscopeTap::write(const float* left, const float* right, int frames) {
    while (frames > 0) {
        Slot& s = slots_[static_cast<std::size_t>(writing_)];
        const int n = std::min(frames, kFrames - filled_);
        std::copy_n(left, n, s.left.begin() + filled_);
        std::copy_n(right, n, s.right.begin() + filled_);
        filled_ += n;
        left += n;
        right += n;
        frames -= n;
        if (filled_ == kFrames) {
            // Publish: release our writes, take back whatever slot was in the middle.
            writing_ = middle_.exchange(writing_ | kFresh, std::memory_order_acq_rel) & ~kFresh;
            filled_ = 0;
        }
    }
}

bool OscilloscopeTap::take(float* left, float* right) {
    if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) return false;
    reading_ = middle_.exchange(reading_, std::memory_order_acq_rel) & ~kFresh;
    const Slot& s = slots_[static_cast<std::size_t>(reading_)];
    std::copy(s.left.begin(), s.left.end(), left);
    std::copy(s.right.begin(), s.right.end(), right);
    return true;
}

}  // namespace vornik
