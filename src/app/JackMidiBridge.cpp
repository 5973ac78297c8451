#include "app/JackMidiBridge.h"

namespace vornik {

JackMidiBridge::JackMidiBridge(MidiInput& input, std::function<void()> notify)
    : waker_(std::move(notify)), queue_(input.addSource([this] { return waker_.wake(); })) {}

void JackMidiBridge::midiEvent(const std::uint8_t* bytes, std::size_t size, std::uint64_t frame,
                               double seconds) noexcept {
    queue_.push(seconds, bytes, size, frame);
}

}  // namespace vornik
