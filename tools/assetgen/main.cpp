// assetgen: draws the window pictures, the strip's button images and the application icon into a
// folder as PNG (and the icon as SVG too).
//   assetgen [DIR]   (default: assets)
// The same drawing code runs in the program, so the files are reproducible from source.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Artwork.h"
#include "display/Renderer.h"

int main(int argc, char** argv) {
    const std::filesystem::path dir = argc > 1 ? argv[1] : "assets";
    if (argc > 2 || (argc == 2 && std::string(argv[1]).starts_with("-"))) {
        std::fprintf(stderr, "usage: assetgen [DIR]\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    int failures = 0;
    for (const std::string& name : vornik::artworkNames()) {
        const auto image = vornik::drawArtwork(name);
        const std::string path = (dir / (name + ".png")).string();
        if (!image || !image->writePng(path)) {
            ++failures;
            continue;
        }
        std::printf("%s (%d x %d)\n", path.c_str(), image->width(), image->height());
    }
    const std::string svgPath = (dir / "icon.svg").string();
    std::ofstream svg(svgPath, std::ios::binary);
    svg << vornik::drawIconSvg();
    if (svg.flush()) {
        std::printf("%s\n", svgPath.c_str());
    } else {
        std::fprintf(stderr, "assetgen: cannot write %s\n", svgPath.c_str());
        ++failures;
    }
    vornik::releaseDrawingCaches();
    return failures == 0 ? 0 : 1;
}
