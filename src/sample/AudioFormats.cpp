#include "sample/AudioFormats.h"

#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace vornik {
namespace {

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Other names in common use for a major format, beyond the one extension libsndfile reports.
struct Alias {
    int major;
    std::string_view names;  // space-separated
};
constexpr Alias kAliases[] = {
    {SF_FORMAT_WAV, "wav wave"},
    {SF_FORMAT_WAVEX, "wav"},
    {SF_FORMAT_AIFF, "aif aiff aifc"},
    {SF_FORMAT_AU, "au snd"},
    {SF_FORMAT_FLAC, "flac"},
    {SF_FORMAT_OGG, "ogg oga"},
    {SF_FORMAT_CAF, "caf"},
    {SF_FORMAT_W64, "w64"},
    {SF_FORMAT_RF64, "rf64"},
    {SF_FORMAT_NIST, "nist sph"},
    {SF_FORMAT_IRCAM, "sf ircam"},
    {SF_FORMAT_SVX, "iff svx 8svx"},
    {SF_FORMAT_MPEG, "mp1 mp2 mp3 m1a m2a mpga"},
};

bool supportsOpus() {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
    return sf_format_check(&info) != 0;
}

std::vector<std::string> askLibsndfile() {
    std::vector<std::string> list;
    auto addNames = [&list](std::string_view names) {
        while (!names.empty()) {
            const auto space = names.find(' ');
            list.push_back(lowerAscii(names.substr(0, space)));
            names = space == std::string_view::npos ? std::string_view{} : names.substr(space + 1);
        }
    };

    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO f{};
        f.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &f, sizeof f) != 0) continue;
        // Header-less data cannot be opened without being told its format.
        if ((f.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW) continue;
        if (f.extension != nullptr && *f.extension != '\0') addNames(f.extension);
        for (const Alias& a : kAliases) {
            if (a.major == (f.format & SF_FORMAT_TYPEMASK)) addNames(a.names);
        }
        if ((f.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG && supportsOpus()) addNames("opus");
    }
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}

}  // namespace

const std::vector<std::string>& audioFileExtensions() {
    static const std::vector<std::string> list = askLibsndfile();
    return list;
}

bool isAudioFileName(std::string_view path) {
    const std::filesystem::path p{std::string(path)};
    const std::string ext = p.extension().string();  // ".wav", or empty
    if (ext.size() < 2) return false;
    const auto& list = audioFileExtensions();
    return std::binary_search(list.begin(), list.end(), lowerAscii(ext.substr(1)));
}

}  // namespace vornik
