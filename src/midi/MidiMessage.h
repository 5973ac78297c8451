#pragma once
// MIDI as the instrument hears it: the bytes of one message as a source delivered them (a
// packet), and the channel messages the parser makes of them. Plain values. Thread: any.

#include <array>
#include <cstdint>

namespace vornik {

namespace midi {
// Notes: 36 (C2) plays slice 1, or the first of the strip's zones in the other modes.
inline constexpr int kFirstNote = 36;
inline constexpr int kZoneCount = 16;
// Slicer velocity: amplitude kVelocityFloor + kVelocitySpan x velocity / 127.
inline constexpr double kVelocityFloor = 0.5;
inline constexpr double kVelocitySpan = 0.45;

// Controllers with a fixed meaning: never bound to a control.
inline constexpr int kSustainPedal = 64;  // 64 or more: down
inline constexpr int kAllSoundOff = 120;
inline constexpr int kAllNotesOff = 123;
inline constexpr int kFirstChannelModeMessage = 120;

inline constexpr int kNoteOff = 0x80;
inline constexpr int kNoteOn = 0x90;
inline constexpr int kControlChange = 0xB0;
inline constexpr int kProgramChange = 0xC0;
}  // namespace midi

// Up to three bytes of the stream one source delivered, stamped with the time (seconds on the
// steady clock, or the script's clock) they arrived.
struct MidiPacket {
    double time = 0.0;
    std::uint64_t frame = 0;  // the mixer frame it takes effect at (0: when handled)
    std::uint8_t size = 0;
    std::array<std::uint8_t, 3> bytes{};
};

// One complete channel message: its status byte (kind and channel) and its data bytes (data2 is 0
// for the one-byte kinds).
struct MidiMessage {
    double time = 0.0;
    std::uint64_t frame = 0;  // as its packet's
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    int kind() const { return status & 0xF0; }
    int channel() const { return (status & 0x0F) + 1; }  // 1..16
    friend bool operator==(const MidiMessage&, const MidiMessage&) = default;
};

}  // namespace vornik
