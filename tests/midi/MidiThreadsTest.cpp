// The hand-over from a source's thread: a producer floods the queue while the main thread drains
// it into the instrument. Nothing lost, nothing reordered, the main loop woken. Run under TSan.

#include <atomic>
#include <thread>

#include "midi/MidiInput.h"
#include "performance/TouchTestSupport.h"

using namespace vornik;

TEST(MidiThreads, AProducerThreadFeedsTheMainThreadInOrder) {
    test::Instrument in(Playhead::kBow, 0);  // no sample: fingers land, no voices to run out of
    MidiMap map;
    MidiPerformer performer(map);
    performer.setInstrument(&in.view);
    MidiInput input(performer);
    std::atomic<int> wakes{0};
    MidiQueue& queue = input.addSource([&] {
        wakes.fetch_add(1);
        return true;
    });
    constexpr int kNotes = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kNotes; ++i) {
            const auto note = static_cast<std::uint8_t>(36 + i % 16);
            // A note-off in running status, as a keyboard sends it: order matters.
            const std::uint8_t on[] = {0x90, note, 0x64}, off[] = {note, 0x00};
            while (!queue.push(i, on, 3)) std::this_thread::yield();
            while (!queue.push(i, off, 2)) std::this_thread::yield();
        }
    });
    std::size_t handled = 0;
    std::size_t mostDown = 0;
    while (handled < 2u * kNotes) {
        handled += input.drain();
        mostDown = std::max(mostDown, performer.fingerCount());
    }
    producer.join();
    EXPECT_EQ(handled, 2u * kNotes);
    EXPECT_LE(mostDown, 1u);  // each note lifted before the next one landed
    EXPECT_EQ(performer.fingerCount(), 0u);
    EXPECT_TRUE(in.view.activeTouches().empty());
    EXPECT_GE(wakes.load(), 1);
}
