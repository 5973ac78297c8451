#pragma once
// Runs vornik-render on scripts and samples made in the test, and reads back what it wrote.

#include <cmath>
#include <cstdlib>
#include <vector>

#include "sample/SampleTestFiles.h"

namespace vornik::test {

struct RenderRun {
    int exitCode = -1;
    std::string errors;      // what the tool wrote on stderr
    std::string output;      // and on stdout
    std::vector<float> mix;  // interleaved stereo
};

class RenderDir : public TempDir {
public:
    // A 48 kHz stereo float WAV whose frame i holds `value(i)` on the left, minus it on the right.
    template <class F>
    std::filesystem::path writeSample(const std::string& name, int frames, F value,
                                      int rate = 48000) const {
        std::vector<float> data(static_cast<std::size_t>(frames) * 2);
        for (int i = 0; i < frames; ++i) data[2 * i + 1] = -(data[2 * i] = value(i));
        const auto file = path() / name;
        writeAudio(file, kWavFloat, rate, 2, data);
        return file;
    }

    RenderRun run(const std::string& script, const std::string& extraArgs = "") const {
        const auto scriptFile = path() / "perform.vsc", out = path() / "out.wav",
                   err = path() / "stderr.txt", output = path() / "stdout.txt";
        std::ofstream(scriptFile) << script;
        std::filesystem::remove(out);
        const char* build = std::getenv("VORNIK_BUILD_DIR");
        const std::string tool = std::string(build ? build : ".") + "/tools/render/vornik-render";
        const std::string command = "\"" + tool + "\" \"" + scriptFile.string() + "\" -o \"" +
                                    out.string() + "\" " + extraArgs + " 2> \"" + err.string() +
                                    "\" > \"" + output.string() + "\"";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(err), readText(output),
                readAudio(out)};
    }
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
