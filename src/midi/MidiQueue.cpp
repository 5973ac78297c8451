#include "midi/MidiQueue.h"

#include <algorithm>

namespace vornik {

bool MidiQueue::push(double time, const std::uint8_t* bytes, std::size_t size,
                     std::uint64_t frame) {
    if (size == 0 || bytes == nullptr || bytes[0] == 0xF0) return true;  // nothing, or SysEx
    if (size == 1 && bytes[0] >= 0xF8) return true;                      // clock, sensing...
    const std::size_t packets = (size + 2) / 3;
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head + packets - tail_.load(std::memory_order_acquire) > kCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    for (std::size_t i = 0; i < packets; ++i) {
        MidiPacket& p = ring_[(head + i) & (kCapacity - 1)];
        p.time = time;
        p.frame = frame;
        p.size = static_cast<std::uint8_t>(std::min<std::size_t>(3, size - 3 * i));
        std::copy_n(bytes + 3 * i, p.size, p.bytes.begin());
    }
    // Sequentially consistent with the wake-up flag: a consumer that cleared the flag before this
    // store sees the packets; one that clears it after is woken.
    head_.store(head + packets);
    if (wake_ && !wakePending_.exchange(true)) {
        if (!wake_()) wakePending_.store(false);
    }
    return true;
}

bool MidiQueue::pop(MidiPacket& out) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == head_.load()) return false;
    out = ring_[tail & (kCapacity - 1)];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

}  // namespace vornik
