#include "midi/MidiInput.h"

namespace vornik {

MidiQueue& MidiInput::addSource(std::function<bool()> wake) {
    sources_.push_back(std::make_unique<Source>(std::move(wake)));
    return sources_.back()->queue;
}

std::size_t MidiInput::drain() {
    std::size_t handled = 0;
    for (const auto& source : sources_) {
        source->queue.takeWake();
        MidiPacket packet;
        MidiMessage message;
        while (source->queue.pop(packet)) {
            for (std::uint8_t i = 0; i < packet.size; ++i) {
                if (source->parser.feed(packet.bytes[i], packet.time, message)) {
                    message.frame = packet.frame;
                    performer_.handle(message);
                    ++handled;
                }
            }
        }
    }
    return handled;
}

void MidiInput::feed(const std::uint8_t* bytes, std::size_t size, double time) {
    MidiMessage message;
    for (std::size_t i = 0; i < size; ++i) {
        if (direct_.feed(bytes[i], time, message)) performer_.handle(message);
    }
}

}  // namespace vornik
