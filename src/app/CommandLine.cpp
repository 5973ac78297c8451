#include "app/CommandLine.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/AppConstants.h"
#include "base/Constants.h"

namespace vornik {
namespace {

bool parseNumber(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out);
}

bool parseCount(const std::string& text, int& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && out >= 0;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    auto fail = [&](std::string message) {
        result.action = CommandLine::Action::Error;
        result.error = std::move(message);
        return result;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        std::string value;
        bool hasValue = false;
        if (!optionsEnded && arg.starts_with("--") && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= arguments.size()) return false;
            value = arguments[++i];
            return true;
        };
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!result.options.file.empty()) {
                return fail("one file at a time: \"" + result.options.file + "\" and \"" + arg +
                            "\" were both given");
            }
            result.options.file = arg;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        } else if (arg == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        } else if (arg == "--zoom") {
            double zoom = 0.0;
            if (!takeValue() || !parseNumber(value, zoom) || zoom < app::kMinZoom ||
                zoom > app::kMaxZoom) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "--zoom takes a number of pixels per point from %g to %g",
                              app::kMinZoom, app::kMaxZoom);
                return fail(text);
            }
            result.options.zoom = zoom;
            result.options.zoomGiven = true;
        } else if (arg == "--fresh") {
            result.options.fresh = true;
        } else if (arg == "--midi") {
            if (!takeValue() || value.empty()) {
                return fail("--midi takes none, all or part of a MIDI source's name");
            }
            result.options.midi = value;
            result.options.midiGiven = true;
        } else if (arg == "--midi-channel") {
            int channel = 0;
            if (!takeValue() || !parseCount(value, channel) || channel < 1 || channel > 16) {
                return fail("--midi-channel takes a MIDI channel from 1 to 16");
            }
            result.options.midiChannel = channel;
            result.options.midiGiven = true;
        } else if (arg == "--audio") {
            const bool given = takeValue();
            if (given && value == "auto") {
                result.options.audio = AudioChoice::Auto;
            } else if (given && value == "jack") {
                result.options.audio = AudioChoice::Jack;
            } else if (given && value == "sdl") {
                result.options.audio = AudioChoice::Sdl;
            } else {
                return fail("--audio takes auto, jack or sdl");
            }
        } else if (arg == "--client-name") {
            if (!takeValue() || value.empty()) return fail("--client-name takes a JACK client name");
            result.options.clientName = value;
        } else if (arg == "--no-connect") {
            result.options.connect = false;
        } else if (arg == "--buffer") {
            int& frames = result.options.bufferFrames;
            if (!takeValue() || !parseCount(value, frames) || frames < 16 || frames > 4096) {
                return fail("--buffer takes a number of frames from 16 to 4096");
            }
        } else if (arg == "--frames") {
            if (!takeValue() || !parseCount(value, result.options.frames)) {
                return fail("--frames takes a whole number of frames (0 runs until closed)");
            }
        } else if (arg == "--screenshot") {
            if (!takeValue() || value.empty()) return fail("--screenshot takes a PNG file name");
            result.options.screenshot = value;
        } else if (arg == "--hold-voices") {
            if (!takeValue() || !parseCount(value, result.options.holdVoices) ||
                result.options.holdVoices > static_cast<int>(kVoiceCount)) {
                return fail("--hold-voices takes a number of voices from 0 to 64");
            }
        } else {
            return fail("unknown option \"" + arg + "\"");
        }
    }
    return result;
}

std::string usageText() {
    return "Usage: vornik [FILE] [--zoom N] [--fresh] [--midi none|all|NAME] [--midi-channel N] "
           "[--audio auto|jack|sdl] [--buffer N] [--help] [--version]\n"
           "\n"
           "A sampler played with the fingers (or the mouse) on the strip along the bottom of its\n"
           "window. FILE is an audio file to load at start. Vornik starts as it was left: the\n"
           "sample (unless FILE is given), the controls and the window come back from\n"
           "$XDG_STATE_HOME/vornik/state.conf (~/.local/state/vornik/state.conf).\n"
           "\n"
           "  --zoom N        pixels per point of the strip (default 2; the strip is 30 points "
           "high)\n"
           "  --fresh         start blank; the saved state is kept until something is changed\n"
           "  --midi WHICH    MIDI input: none, all (the default: every hardware source, present\n"
           "                  or plugged in later) or part of a source's name; the port \"Vornik\"\n"
           "                  takes connections from other programs unless it is none\n"
           "  --midi-channel N  hear only MIDI channel N (1 to 16; default all)\n"
           "  --audio WHICH   auto (JACK if a server is running, else SDL audio), jack or sdl\n"
           "  --client-name NAME  the JACK client's name (default vornik)\n"
           "  --no-connect    on JACK, leave out_1/out_2 and in_1/in_2 unconnected\n"
           "  --buffer N      SDL audio's buffer in frames (16 to 4096; default 64, 1.3 ms): more\n"
           "                  frames wake the machine less often, for more latency\n"
           "  --help          this text\n"
           "  --version       the version\n"
           "\n"
           "For tests and measurements:\n"
           "  --frames N      quit after N display frames\n"
           "  --screenshot F  write the window's picture to the PNG file F when quitting\n"
           "  --hold-voices N hold N bow voices spread over the strip once the sample is in\n"
           "\n"
           "Keys: space switches between the instrument and its controls, r records, Ctrl+O opens\n"
           "a file, Ctrl+Q quits, F1 or ? shows every key, mouse gesture and MIDI control.\n"
           "Shift-click on the strip leaves a mouse finger down; a click on it lifts it.\n"
           "MIDI learn: right-click a control (or hold two fingers on it), then move a knob;\n"
           "Escape cancels. The map is kept in $XDG_CONFIG_HOME/vornik/midi.conf.\n"
           "\n"
           "Environment: VORNIK_APPEARANCE=dark|light, VORNIK_ASSETS=DIR.\n"
           "\n"
           "Exit status: 0 done, 2 wrong command line, 3 no display.\n";
}

}  // namespace vornik
