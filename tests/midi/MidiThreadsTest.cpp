// A producer floods the queue while a sometimes busy main thread drains it. Run under TSan.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/MidiQueue.h"

using namespace vornik;

TEST(MidiThreads, AProducerThreadFeedsTheMainThreadInOrder) {
    std::atomic<int> wakes{0};
    MidiQueue queue([&] {
        wakes.fetch_add(1);
        return true;
    });
    constexpr int kMessages = 50000;
    std::atomic<bool> finished{false};
    std::thread producer([&] {
        for (int i = 0; i < kMessages; ++i) {
            const std::uint8_t note[] = {0x90, static_cast<std::uint8_t>(i & 0x7F),
                                         static_cast<std::uint8_t>(i >> 7 & 0x7F)};
            while (!queue.push(i, note, 3)) std::this_thread::yield();  // full: wait
        }
        finished.store(true);
    });
    int next = 0;
    int wrong = 0;
    for (int turn = 0;; ++turn) {
        const bool last = finished.load();  // everything is queued: one more drain takes it all
        if (turn % 64 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        queue.takeWake();
        for (MidiPacket p; queue.pop(p); ++next) {
            wrong += p.time != next || p.size != 3 || p.bytes[1] != (next & 0x7F) ||
                     p.bytes[2] != (next >> 7 & 0x7F);
        }
        if (last) break;
    }
    producer.join();
    EXPECT_EQ(wrong, 0) << "at message " << next;
    EXPECT_EQ(next, kMessages);
    EXPECT_GE(wakes.load(), 1);
}
