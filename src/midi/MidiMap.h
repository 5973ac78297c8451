#pragma once
// Which controller number moves which control, and MIDI learn. Controls are named as the user
// knows them ("attack", "filter", ...); the host finds the control for a name. The map is kept in
// a small text file, one binding a line ("cc 74 filter"), written whole and atomically.
// Thread: main, for everything here.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornik {

class MidiMap {
public:
    // Every control a controller can move, in the order the bars show them.
    static const std::vector<std::string>& controlNames();
    static bool isControl(std::string_view name);
    // Controller numbers with a meaning of their own (sustain, the channel mode messages).
    static bool isReserved(int cc);

    // The default map: the General MIDI 2 sound-controller habits.
    MidiMap();

    // The control bound to a controller number, or "" for none.
    const std::string& control(int cc) const;
    // Binds `cc` to `name`, replacing what `cc` did before; "" unbinds. False for a reserved or
    // out-of-range number or an unknown name.
    bool bind(int cc, std::string_view name);
    void resetToDefaults();

    // Learn: the armed control takes the next controller moved.
    void arm(std::string_view name);
    void disarm() { armed_.clear(); }
    const std::string& armed() const { return armed_; }

    // Reads the map from `path`, replacing this one; a missing file keeps the defaults. Broken
    // lines are logged with their number and skipped. False when the file exists but cannot be
    // read.
    bool load(const std::filesystem::path& path);
    // Writes the whole map to `path` (its folder made if needed) through a temporary file renamed
    // over it, so a failed write leaves the old file. Returns "" or what went wrong.
    std::string save(const std::filesystem::path& path) const;
    std::string text() const;

    // $XDG_CONFIG_HOME/vornik/midi.conf, or ~/.config/vornik/midi.conf; empty without either.
    static std::filesystem::path defaultPath();

private:
    std::array<std::string, 128> controls_;
    std::string armed_;
};

// A controller's value 0..127 over a control's range.
double ccToRange(int value, double minimum, double maximum);

}  // namespace vornik
