// vornik-loadtime --make [DIR]   writes the benchmark's ten-minute WAV and FLAC files into DIR
// vornik-loadtime FILE [REPEAT]  decodes FILE REPEAT times (default 1) as the instrument does and
//                                prints the best time, the decoded size and the peak memory

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchAudio.h"
#include "sample/AudioFileReader.h"

using namespace vornik;

namespace {

// Peak resident memory of this process so far, in bytes.
double peakResidentBytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) * 1024.0;
}

int usage() {
    std::fprintf(stderr, "usage: vornik-loadtime --make [DIR] | vornik-loadtime FILE [REPEAT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string first = argv[1];
    if (first == "--make") {
        const auto files = argc > 2 ? bench::makeBenchFiles(argv[2]) : bench::makeBenchFiles();
        if (files.wav.empty() || files.flac.empty()) {
            std::fprintf(stderr, "vornik-loadtime: could not write the files\n");
            return 1;
        }
        std::printf("%s\n%s\n", files.wav.c_str(), files.flac.c_str());
        return 0;
    }

    const int repeat = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const double before = peakResidentBytes();
    double best = 1e300;
    double decodedBytes = 0.0;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        DecodedAudio d = decodeAudioFile(first);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (d.status != DecodedAudio::Status::Decoded) {
            std::fprintf(stderr, "vornik-loadtime: %s: %s\n", first.c_str(), d.reason.c_str());
            return 1;
        }
        best = std::min(best, seconds);
        decodedBytes = static_cast<double>(d.snapshot->capacity) * d.snapshot->channels * 4.0;
    }
    const double peak = peakResidentBytes();
    std::printf(
        "load %.3f s  decoded %.1f MB  peak RSS %.1f MB (%.1f MB before)  peak/decoded %.2f\n",
        best, decodedBytes / 1e6, peak / 1e6, before / 1e6, peak / decodedBytes);
    return 0;
}
