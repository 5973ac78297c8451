#pragma once
// The benchmarks' sample: ten minutes of 44.1 kHz stereo, written once as 16-bit WAV and FLAC
// into a temporary directory and reused while it is there. Shared by vornik-bench and the
// vornik-loadtime tool, so both time the same files.

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace vornik::bench {

inline constexpr int kBenchRate = 44100;
inline constexpr int kBenchChannels = 2;
inline constexpr std::uint32_t kBenchFrames = 600u * kBenchRate;  // ten minutes

struct BenchFiles {
    std::string wav;
    std::string flac;
};

inline std::filesystem::path benchDirectory() {
    return std::filesystem::temp_directory_path() / "vornik-bench";
}

namespace detail {

inline bool hasBenchLength(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return false;
    sf_close(f);
    return info.frames == kBenchFrames && info.channels == kBenchChannels &&
           info.samplerate == kBenchRate;
}

// Music-like material: a plucked note every half second at a random pitch and level, decaying,
// over quiet noise, so the codecs and the onset detection see something real.
inline bool writeBenchFile(const std::string& path, int format) {
    if (hasBenchLength(path)) return true;
    const std::string part = path + ".part";
    SF_INFO info{};
    info.samplerate = kBenchRate;
    info.channels = kBenchChannels;
    info.format = format;
    SNDFILE* f = sf_open(part.c_str(), SFM_WRITE, &info);
    if (f == nullptr) return false;
    std::minstd_rand rng(20240601);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::uint32_t noteFrames = kBenchRate / 2;
    std::vector<float> block(std::size_t{noteFrames} * kBenchChannels);
    bool ok = true;
    for (std::uint32_t start = 0; start < kBenchFrames && ok; start += noteFrames) {
        const double freq = 110.0 * std::pow(2.0, std::floor(unit(rng) * 36.0) / 12.0);
        const double level = 0.2 + 0.7 * unit(rng);
        const double pan = unit(rng);
        for (std::uint32_t i = 0; i < noteFrames; ++i) {
            const double t = static_cast<double>(i) / kBenchRate;
            const double note = level * std::exp(-6.0 * t) * std::sin(2.0 * M_PI * freq * t);
            const double noise = 0.01 * (unit(rng) - 0.5);
            block[2 * i] = static_cast<float>(note * (1.0 - pan) + noise);
            block[2 * i + 1] = static_cast<float>(note * pan + noise);
        }
        ok = sf_writef_float(f, block.data(), noteFrames) == noteFrames;
    }
    sf_close(f);
    std::error_code ec;
    if (ok) std::filesystem::rename(part, path, ec);
    return ok && !ec;
}

}  // namespace detail

// Makes the files in `dir` unless they are there already. Empty paths if writing failed.
inline BenchFiles makeBenchFiles(const std::filesystem::path& dir = benchDirectory()) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    BenchFiles files{(dir / "bench-10min.wav").string(), (dir / "bench-10min.flac").string()};
    if (!detail::writeBenchFile(files.wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16)) files.wav.clear();
    if (!detail::writeBenchFile(files.flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16)) files.flac.clear();
    return files;
}

}  // namespace vornik::bench
