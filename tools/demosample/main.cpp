// demosample: writes the demo sample (drum hits and a chord, 44.1 kHz stereo) as a WAV file.
//   demosample [FILE]   (default: assets/demo.wav)

#include <cstdio>
#include <string>

#include "app/DemoSample.h"

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && std::string(argv[1]).starts_with("-"))) {
        std::fprintf(stderr, "usage: demosample [FILE]\n");
        return 2;
    }
    const std::string path = argc > 1 ? argv[1] : "assets/demo.wav";
    if (!vornik::writeDemoSample(path)) return 1;
    std::printf("%s (%.1f s, %d Hz, stereo)\n", path.c_str(), vornik::kDemoSeconds,
                vornik::kDemoSampleRate);
    return 0;
}
