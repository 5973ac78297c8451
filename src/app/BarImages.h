#pragma once
// The pictures of the strip's buttons and play-mode segments, read from PNG files ("<name>.png"
// in the assets directory, drawn at 2 pixels per point). A picture whose file is missing is drawn
// here instead, quietly; a file that is there but cannot be read is logged and drawn here too.
// Thread: main.

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "display/Image.h"

namespace vornik {

namespace barimages {
// The names of the pictures, as files in the assets directory without ".png".
inline constexpr const char* kEffects = "effects@2x";
inline constexpr const char* kControls = "controls@2x";
inline constexpr const char* kSlicer = "slicer@2x";
inline constexpr const char* kSlicerDisabled = "slicer.disabled@2x";
inline constexpr const char* kLooper = "looper@2x";
inline constexpr const char* kLooperDisabled = "looper.disabled@2x";
inline constexpr const char* kBow = "bow@2x";
inline constexpr const char* kBowDisabled = "bow.disabled@2x";
inline constexpr const char* kTape = "tape@2x";
inline constexpr const char* kTapeDisabled = "tape.disabled@2x";

// The segment pictures by play mode (0 slicer, 1 looper, 2 bow, 3 tape).
inline constexpr const char* kModeSelected[4] = {kSlicer, kLooper, kBow, kTape};
inline constexpr const char* kModeUnselected[4] = {kSlicerDisabled, kLooperDisabled, kBowDisabled,
                                                   kTapeDisabled};

inline constexpr int kStandInPixels = 36;  // a drawn stand-in: 18 x 18 points
}  // namespace barimages

class BarImages {
public:
    explicit BarImages(std::filesystem::path directory);

    // The picture for `name`: its file, else a drawn stand-in (a plain square for names
    // without one). Never null; each name is read once.
    std::shared_ptr<const Image> image(const std::string& name);
    // Whether the picture for `name` came from its file.
    bool fromFile(const std::string& name);

    // The stand-in drawn for a name, without looking for a file.
    static std::shared_ptr<Image> drawStandIn(const std::string& name);

private:
    struct Entry {
        std::shared_ptr<const Image> image;
        bool fromFile = false;
    };
    const Entry& entry(const std::string& name);

    std::filesystem::path directory_;
    std::map<std::string, Entry> cache_;
};

}  // namespace vornik
