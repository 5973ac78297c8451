#pragma once
// MIDI written as in a monitor: "90 24 7F, 80 24 00" is two messages of hex bytes.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace vornik::test {

inline std::vector<std::uint8_t> midiBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        if (word.back() == ',') word.pop_back();
        if (!word.empty())
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

}  // namespace vornik::test
