#pragma once
// Runs vornik-render on scripts and samples made in the test, and reads back what it wrote.

#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vornik::test {

struct RenderRun {
    int exitCode = -1;
    std::string errors;      // what the tool wrote on stderr
    std::string output;      // and on stdout
    std::vector<float> mix;  // interleaved stereo
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A WAV file's frames, interleaved.
inline std::vector<float> readWav(const std::filesystem::path& path) {
    std::vector<float> data;
    SF_INFO info{};
    if (SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info)) {
        data.resize(static_cast<std::size_t>(info.frames) * info.channels);
        sf_readf_float(f, data.data(), info.frames);
        sf_close(f);
    }
    return data;
}

class RenderDir {
public:
    RenderDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vornik-render-test-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
    }
    ~RenderDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& path() const { return dir_; }

    // A 48 kHz stereo float WAV whose frame i holds `value(i)` on the left, minus it on the right.
    template <class F>
    std::filesystem::path writeSample(const std::string& name, int frames, F value,
                                      int rate = 48000) const {
        const auto file = dir_ / name;
        SF_INFO info{0, rate, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
        SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
        std::vector<float> data(static_cast<std::size_t>(frames) * 2);
        for (int i = 0; i < frames; ++i) {
            data[2 * i] = value(i);
            data[2 * i + 1] = -value(i);
        }
        sf_writef_float(f, data.data(), frames);
        sf_close(f);
        return file;
    }

    RenderRun run(const std::string& script, const std::string& extraArgs = "") const {
        const auto scriptFile = dir_ / "perform.vsc", out = dir_ / "out.wav",
                   err = dir_ / "stderr.txt", output = dir_ / "stdout.txt";
        std::ofstream(scriptFile) << script;
        std::filesystem::remove(out);
        const char* build = std::getenv("VORNIK_BUILD_DIR");
        const std::string tool = std::string(build ? build : ".") + "/tools/render/vornik-render";
        const std::string command = "\"" + tool + "\" \"" + scriptFile.string() + "\" -o \"" +
                                    out.string() + "\" " + extraArgs + " 2> \"" + err.string() +
                                    "\" > \"" + output.string() + "\"";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(err), readFile(output),
                readWav(out)};
    }

private:
    std::filesystem::path dir_;
};

// Peak of one channel (0 left, 1 right) over output frames [from, to).
inline float peak(const std::vector<float>& mix, int channel, double fromSeconds,
                  double toSeconds) {
    float p = 0.0f;
    const auto from = static_cast<std::size_t>(fromSeconds * 48000);
    const auto to = std::min(mix.size() / 2, static_cast<std::size_t>(toSeconds * 48000));
    for (std::size_t i = from; i < to; ++i) p = std::max(p, std::fabs(mix[2 * i + channel]));
    return p;
}

}  // namespace vornik::test
