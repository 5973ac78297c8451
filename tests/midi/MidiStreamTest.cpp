#include <gtest/gtest.h>

#include <cstdio>

#include "midi/MidiParser.h"
#include "midi/MidiQueue.h"
#include "midi/MidiTestSupport.h"

using namespace vornik;

TEST(MidiStream, MalformedAndRunningStatusStreamsAndTheQueue) {
    const struct {
        const char* stream;
        const char* messages;
    } cases[] = {
        {"90 24 64 24 00 25 40", "90 24 64, 90 24 00, 90 25 40"},  // running status
        {"90 24 F8 64 FE", "90 24 64"},                            // clock, sensing inside
        {"F0 7E 7F 09 01 F7 80 24 00", "80 24 00"},                // SysEx skipped
        {"F0 01 02 90 30 40", "90 30 40"},                         // SysEx cut off by a status
        {"24 64 B0 40 7F", "B0 40 7F"},                            // data without a status
        {"C0 05 06 D0 7F", "C0 05 00, C0 06 00, D0 7F 00"},        // one data byte each
        {"90 24 80 30 00", "80 30 00"},                            // a message cut short
        {"90 24 64 F2 01 02 64 64", "90 24 64"},  // song position ends the running status
        {"F6 40 40 F7 40 F5 40", ""},             // nothing to run on
        {"E0 00 40 FF", "E0 00 40"},
    };
    for (const auto& c : cases) {
        MidiParser parser;
        MidiMessage m;
        std::string got;
        for (std::uint8_t b : test::midiBytes(c.stream)) {
            if (!parser.feed(b, 1.5, m)) continue;
            char text[16];
            std::snprintf(text, sizeof text, "%s%02X %02X %02X", got.empty() ? "" : ", ", m.status,
                          m.data1, m.data2);
            got += text;
            EXPECT_EQ(m.time, 1.5);
        }
        EXPECT_EQ(got, c.messages) << c.stream;
    }
    // The queue drops SysEx and clock and counts what did not fit.
    MidiQueue queue;
    const auto sysex = test::midiBytes("F0 7E 7F 09 01 F7"), clock = test::midiBytes("F8");
    const auto notes = test::midiBytes("90 24 64 25 64");  // running status: two packets
    for (const auto* m : {&sysex, &clock, &notes}) queue.push(0.0, m->data(), m->size());
    std::size_t sizes = 0;
    for (MidiPacket p; queue.pop(p);) sizes = sizes * 10 + p.size;
    EXPECT_EQ(sizes, 32u);
    for (std::size_t i = 0; i <= MidiQueue::kCapacity; ++i) queue.push(i, notes.data(), 3);
    EXPECT_EQ(queue.dropped(), 1u);
}
