// vornik-render: plays a scripted performance on the instrument, headless and faster than real
// time, and writes the final mix as a 48 kHz stereo float WAV.

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "Script.h"
#include "Session.h"

namespace {

constexpr const char* kUsage =
    "usage: vornik-render SCRIPT -o OUT.wav [--input MIC.wav] [--takes DIR] [--check]\n"
    "Plays SCRIPT on the instrument without a screen or a sound card and writes the final mix\n"
    "(48,000 Hz, 2 channels, 32-bit float) to OUT.wav. --input feeds the recorder from a file.\n"
    "Takes of the output (key o) go to DIR, else to the documents folder's \"Vornik takes\";\n"
    "each take's path is printed as \"take: PATH\".\n"
    "--check reports the speed and fails if the mix holds NaN or infinity or a voice is still\n"
    "on at the end.\n";

bool writeWav(const std::string& path, const std::vector<float>& mix) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    const sf_count_t frames = static_cast<sf_count_t>(mix.size() / 2);
    const bool ok = sf_writef_float(f, mix.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scriptPath, outPath, inputPath, takesPath;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-o" || arg == "--input" || arg == "--takes") && i + 1 < argc) {
            (arg == "-o" ? outPath : arg == "--input" ? inputPath : takesPath) = argv[++i];
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (scriptPath.empty() && !arg.empty() && arg[0] != '-') {
            scriptPath = arg;
        } else {
            std::fprintf(stderr, "vornik-render: unexpected argument \"%s\"\n%s", arg.c_str(),
                         kUsage);
            return 2;
        }
    }
    if (scriptPath.empty() || outPath.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::ifstream in(scriptPath);
    if (!in) {
        std::fprintf(stderr, "vornik-render: cannot read the script %s\n", scriptPath.c_str());
        return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    const std::filesystem::path folder = std::filesystem::path(scriptPath).parent_path();
    if (!inputPath.empty() && !std::filesystem::is_regular_file(inputPath)) {
        std::fprintf(stderr, "vornik-render: missing input file %s\n", inputPath.c_str());
        return 2;
    }

    vornik::render::ScriptError error;
    const auto script = vornik::render::parseScript(text.str(), folder, error);
    if (!script) {
        std::fprintf(stderr, "vornik-render: %s:%d: %s\n", scriptPath.c_str(), error.line,
                     error.message.c_str());
        return 2;
    }

    std::vector<float> mix;
    bool ok = false;
    int voicesOn = 0;
    const auto started = std::chrono::steady_clock::now();
    {
        vornik::render::Session session(*script, inputPath, takesPath);
        ok = session.run(mix);
        voicesOn = session.activeVoices();
    }
    if (check) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const auto bad = std::count_if(mix.begin(), mix.end(), [](float x) { return !std::isfinite(x); });
        std::printf("check: %.1f s rendered in %.2f s (%.1fx real time), %ld non-finite samples, "
                    "%d voices on at the end\n",
                    script->length, seconds, script->length / std::max(seconds, 1e-9),
                    static_cast<long>(bad), voicesOn);
        if (bad != 0 || voicesOn != 0) ok = false;
    }
    if (!writeWav(outPath, mix)) {
        std::fprintf(stderr, "vornik-render: cannot write %s\n", outPath.c_str());
        return 1;
    }
    return ok ? 0 : 1;
}
