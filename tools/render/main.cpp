// vornik-render: plays a scripted performance on the instrument, headless and faster than real
// time, and writes the final mix as a 48 kHz stereo float WAV.

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// A folder of our own for the takes a script records, made with mkdtemp under $TMPDIR (or
// /tmp) and removed with what it holds when the render ends. Nothing else is ever removed.
class PrivateFolder {
public:
    bool make(std::string& error) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string base = tmp && *tmp ? tmp : "/tmp";
        std::string pattern = base + "/vornik-render-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            error = "cannot make a temporary folder in " + base + ": " + std::strerror(errno);
            return false;
        }
        path_ = pattern;
        return true;
    }
    ~PrivateFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The final mix on its way to the output file, a stretch at a time, counting the samples that
// --check refuses as they pass.
class WavStream {
public:
    WavStream(const std::string& path, double seconds) {
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        // A WAV file holds at most 4 GiB of audio (about 3.1 hours here); longer renders are
        // RF64, WAV's 64-bit form.
        const double bytes = seconds * info.samplerate * info.channels * sizeof(float);
        info.format =
            (bytes < 4294967295.0 - 65536 ? SF_FORMAT_WAV : SF_FORMAT_RF64) | SF_FORMAT_FLOAT;
        file_ = sf_open(path.c_str(), SFM_WRITE, &info);
        // The PEAK chunk carries the time of writing: without it, the same render gives the
        // same bytes.
        if (file_) sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    }
    ~WavStream() { close(); }
    bool isOpen() const { return file_ != nullptr; }

    bool write(const float* interleaved, int frames) {
        for (int i = 0; i < 2 * frames; ++i) nonFinite_ += !std::isfinite(interleaved[i]);
        return sf_writef_float(file_, interleaved, frames) == frames;
    }
    bool close() {
        const bool ok = file_ && sf_close(file_) == 0;
        file_ = nullptr;
        return ok;
    }
    long nonFinite() const { return nonFinite_; }

private:
    SNDFILE* file_ = nullptr;
    long nonFinite_ = 0;
};

int render(const vornik::render::Script& script, const std::string& outPath,
           const std::string& inputPath, const std::string& takesPath, bool check) {
    std::string error;
    PrivateFolder folder;  // outlives the session, whose recorder writes into it
    if (!folder.make(error)) {
        std::fprintf(stderr, "vornik-render: %s\n", error.c_str());
        return 2;
    }
    WavStream out(outPath, script.length);
    if (!out.isOpen()) {
        std::fprintf(stderr, "vornik-render: cannot write %s: %s\n", outPath.c_str(),
                     sf_strerror(nullptr));
        return 1;
    }
    bool ok = false, written = true;
    int voicesOn = 0;
    const auto started = std::chrono::steady_clock::now();
    {
        vornik::render::Session session(script, inputPath, folder.path(), takesPath);
        ok = session.run(
            [&](const float* mix, int frames) { return written = out.write(mix, frames); });
        voicesOn = session.activeVoices();
    }
    if (!out.close() || !written) {
        std::fprintf(stderr, "vornik-render: cannot write %s\n", outPath.c_str());
        return 1;
    }
    if (check) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf(
            "check: %.1f s rendered in %.2f s (%.1fx real time), %ld non-finite samples, "
            "%d voices on at the end\n",
            script.length, seconds, script.length / std::max(seconds, 1e-9), out.nonFinite(),
            voicesOn);
        if (out.nonFinite() != 0 || voicesOn != 0) ok = false;
    }
    return ok ? 0 : 1;
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

    try {
        return render(*script, outPath, inputPath, takesPath, check);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vornik-render: %s\n", e.what());
        return 1;
    }
}
