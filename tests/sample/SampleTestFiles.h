#pragma once
// Audio files made by the tests, in a TempDir.

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "display/MainView.h"
#include "support/Files.h"
#include "support/ScopedDriver.h"

namespace vornik::test {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kWavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

// The names in a directory, sorted.
inline std::vector<std::string> entries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Interleaved: channel c a sine of (c + 1) * 220 Hz at 0.5 plus a slow ramp; all differ.
inline std::vector<float> testSignal(std::uint32_t frames, int channels, double rate = 44100.0) {
    std::vector<float> v(std::size_t{frames} * channels);
    for (std::size_t i = 0; i < v.size(); ++i) {
        const std::size_t f = i / channels, c = i % channels;
        v[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 220.0 * (c + 1) * f / rate) +
                                  0.3 * f / frames - 0.15);
    }
    return v;
}

// Writes interleaved `samples`; false if this libsndfile cannot write the format.
inline bool writeAudio(const std::string& path, int format, int rate, int channels,
                       const std::vector<float>& samples) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    if (!sf_format_check(&info)) return false;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr) return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    const bool ok = sf_writef_float(f, samples.data(), frames) == frames;
    sf_close(f);
    return ok;
}

// The whole file as libsndfile's own interleaved floats, and its error number after the read.
inline std::vector<float> readAudio(const std::string& path, int* error = nullptr) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return {};
    std::vector<float> v(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(f, v.data(), info.frames);
    if (error) *error = sf_error(f);
    sf_close(f);
    return v;
}

struct Pcm16 {
    SF_INFO info{};
    std::vector<short> samples;  // interleaved, as stored
    bool opened = false;
};

inline Pcm16 readPcm16(const std::filesystem::path& path) {
    Pcm16 out;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &out.info);
    if (f == nullptr) return out;
    out.opened = true;
    out.samples.resize(static_cast<std::size_t>(out.info.frames * out.info.channels));
    sf_readf_short(f, out.samples.data(), out.info.frames);
    sf_close(f);
    return out;
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Keeps the first `fraction` of a file's bytes.
inline void cutFile(const std::string& path, double fraction) {
    auto bytes = readBytes(path);
    bytes.resize(static_cast<std::size_t>(bytes.size() * fraction));
    writeBytes(path, bytes);
}

inline void putLE(std::vector<unsigned char>& b, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The header of a Wave64 file (64-bit chunk sizes) of unsigned 8-bit frames claiming `frames`
// frames; the data would follow at 0x68. `scratch` is overwritten.
inline std::vector<unsigned char> wave64Header(const std::string& scratch, int channels,
                                               std::uint64_t frames) {
    writeAudio(scratch, SF_FORMAT_W64 | SF_FORMAT_PCM_U8, 44100, 1, std::vector<float>(16));
    auto b = readBytes(scratch);
    b.resize(0x68);
    const std::uint64_t data = frames * channels;
    putLE(b, 0x10, 0x68 + data, 8);  // riff size: the whole file
    putLE(b, 0x42, channels, 2);
    putLE(b, 0x48, 44100u * channels, 4);  // bytes per second
    putLE(b, 0x4C, channels, 2);           // block align
    putLE(b, 0x60, data + 24, 8);          // data chunk with its header
    return b;
}

struct Instrument {
    ManualClock clock;
    RunLoop loop{clock};
    MainView view{loop};
    Instrument() { view.setTouchBarSize({1000.0, 30.0}); }
};

}  // namespace vornik::test
