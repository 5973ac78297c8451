#pragma once
// Audio files made in the test, in a temporary directory that goes away with the test.

#include <sndfile.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vornik::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vornik-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Interleaved test signal: channel c is a sine of (c + 1) * 220 Hz at amplitude 0.5, plus a
// slow ramp, so every channel and every frame differs.
inline std::vector<float> testSignal(std::uint32_t frames, int channels, double rate = 44100.0) {
    std::vector<float> v(std::size_t{frames} * channels);
    for (std::uint32_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const double t = f / rate;
            v[std::size_t{f} * channels + c] = static_cast<float>(
                0.5 * std::sin(2.0 * M_PI * 220.0 * (c + 1) * t) + 0.3 * f / frames - 0.15);
        }
    }
    return v;
}

// Writes interleaved `samples` with libsndfile; false if the format cannot be written here.
inline bool writeAudio(const std::string& path, int format, int rate, int channels,
                       const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info)) return false;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr) return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    const bool ok = sf_writef_float(f, samples.data(), frames) == frames;
    sf_close(f);
    return ok;
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Little-endian field patches for forging headers.
inline void putLE(std::vector<unsigned char>& b, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The header of a Sony Wave64 file of unsigned 8-bit frames claiming `frames` frames (its chunk
// sizes are 64-bit, so it can claim more than 32 bits count); the data would follow at 0x68.
// `scratchPath` is overwritten.
inline std::vector<unsigned char> wave64Header(const std::string& scratchPath, int channels,
                                               std::uint64_t frames) {
    writeAudio(scratchPath, SF_FORMAT_W64 | SF_FORMAT_PCM_U8, 44100, 1,
               std::vector<float>(16, 0.0f));
    auto b = readBytes(scratchPath);
    b.resize(0x68);
    const std::uint64_t data = frames * channels;
    putLE(b, 0x10, 0x68 + data, 8);  // riff size: the whole file
    putLE(b, 0x42, channels, 2);
    putLE(b, 0x48, 44100u * channels, 4);  // bytes per second
    putLE(b, 0x4C, channels, 2);           // block align
    putLE(b, 0x60, data + 24, 8);          // data chunk with its header
    return b;
}

}  // namespace vornik::test
