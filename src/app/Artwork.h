#pragma once
// The pictures of the window and of the strip's buttons, drawn by our own code. The asset
// generator writes them into assets/ as PNG; the program loads those files, and draws a picture
// itself if its file is missing. Thread: main (drawing uses Cairo's font caches).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "display/Image.h"

namespace vornik {

// Every picture's name, as its PNG file is named (without ".png"): "Window Background",
// "Window Background Dark", "effects@2x", "controls@2x", and for each play mode its selected and
// dimmed image ("slicer@2x", "slicer.disabled@2x", ...), and the application icon at 48, 128 and
// 256 pixels ("icon-48", ...).
const std::vector<std::string>& artworkNames();

// Draws the picture of that name; null for an unknown name.
std::shared_ptr<Image> drawArtwork(std::string_view name);

// The application icon as SVG text ("icon.svg" among the assets).
std::string drawIconSvg();

}  // namespace vornik
