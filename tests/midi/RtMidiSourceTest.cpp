// The MIDI system: "--midi" choices, its absence, and the real virtual port where ALSA has one.

#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "midi/MidiQueue.h"
#include "midi/RtMidiSource.h"
#include "support/LogLines.h"

using namespace vornik;

namespace {
bool haveSequencer() { return ::access(RtMidiSource::kSequencerDevice, R_OK | W_OK) == 0; }
}  // namespace

TEST(RtMidiSource, ChoosesHardwareForAllAndAnySourceByName) {
    const std::string keys = "Launchkey Mini:Launchkey Mini MIDI 1";
    EXPECT_TRUE(RtMidiSource::chooses("all", keys, true));
    EXPECT_FALSE(RtMidiSource::chooses("all", "Midi Through:Midi Through Port-0", false));
    EXPECT_TRUE(RtMidiSource::chooses("launchkey", keys, true));
    EXPECT_TRUE(RtMidiSource::chooses("VMPK", "VMPK Output:out", false));  // software, named
    EXPECT_FALSE(RtMidiSource::chooses("none", keys, true));
    EXPECT_FALSE(RtMidiSource::chooses("Arturia", keys, true));
}

TEST(RtMidiSource, NoMidiSystemIsOneLogLine) {
    if (haveSequencer()) GTEST_SKIP() << "this machine has a MIDI system";
    MidiQueue queue;
    test::LogLines log;
    EXPECT_EQ(RtMidiSource::open(queue, "all"), nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("no MIDI system"), std::string::npos) << log.lines[0];
}

TEST(RtMidiSource, TheVirtualPortHearsAnotherProgram) {
    if (!haveSequencer())
        GTEST_SKIP() << "no ALSA sequencer (" << RtMidiSource::kSequencerDevice << ")";
    MidiQueue queue;
    auto source = RtMidiSource::open(queue, "none", "Vornik test");
    ASSERT_NE(source, nullptr);
    RtMidiOut out(RtMidi::LINUX_ALSA, "Vornik test sender");
    unsigned port = out.getPortCount();
    for (unsigned i = 0; i < out.getPortCount(); ++i) {
        if (out.getPortName(i).find("Vornik test") != std::string::npos) port = i;
    }
    ASSERT_LT(port, out.getPortCount());
    out.openPort(port);
    const unsigned char note[] = {0x90, 0x24, 0x64};
    out.sendMessage(note, sizeof note);
    MidiPacket p;
    bool got = false;
    for (int i = 0; i < 200 && !(got = queue.pop(p)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(p.size, 3);
    EXPECT_EQ(p.bytes[0], 0x90);
    EXPECT_EQ(p.bytes[1], 0x24);
}
