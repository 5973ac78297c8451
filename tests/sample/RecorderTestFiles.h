#pragma once
// Files for the recorder tests, made in a temporary directory of the test's own.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace vornik::test {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vornik-rec-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

// Writes interleaved float frames as a 32-bit float WAV (values beyond +-1 kept as they are).
inline void writeFloatWav(const std::filesystem::path& path, const std::vector<float>& interleaved,
                          int channels, int rate = 44100) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_command(f, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    EXPECT_EQ(sf_writef_float(f, interleaved.data(), frames), frames);
    sf_close(f);
}

struct Pcm16 {
    SF_INFO info{};
    std::vector<short> samples;  // interleaved
    bool opened = false;
};

// Reads a whole file as 16-bit integers, exactly as stored in a 16-bit PCM file.
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

// Interleaved stereo: a sine on the left, a slower sine at another level on the right.
inline std::vector<float> stereoSines(std::size_t frames, float leftAmp = 0.8f,
                                      float rightAmp = 0.3f) {
    std::vector<float> v(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        v[2 * i] = leftAmp * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * t));
        v[2 * i + 1] = rightAmp * static_cast<float>(std::sin(2.0 * M_PI * 97.0 * t + 1.0));
    }
    return v;
}

}  // namespace vornik::test
