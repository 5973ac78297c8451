#pragma once
// The desktop portal (org.freedesktop.portal.Desktop on the session bus): its file chooser and
// its appearance setting, through GLib's GDBus. A thread of our own runs a GLib main context in
// which every D-Bus call is made asynchronously; answers reach the main thread through the run
// loop. Nothing here waits for the bus, except awaitColorScheme, once at start and bounded.
// Thread: main, for every call here.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/RunLoop.h"

namespace vornik {

// The portal's org.freedesktop.appearance color-scheme.
enum class ColorScheme { NoPreference = 0, PreferDark = 1, PreferLight = 2 };

class Portal {
public:
    struct Choice {
        enum class Outcome { Chosen, Cancelled, Unavailable };
        Outcome outcome = Outcome::Unavailable;
        std::string path;  // Chosen: a local file
    };

    // Starts the thread, which connects to the session bus at once.
    explicit Portal(RunLoop& runLoop);
    // Stops the thread; answers not yet delivered are dropped.
    ~Portal();
    Portal(const Portal&) = delete;
    Portal& operator=(const Portal&) = delete;

    // Opens the portal's file chooser over `parent` ("x11:XID", or "" for none), offering the
    // files with these name extensions. `done` runs once, from the run loop. Unavailable means
    // no portal answered (no bus, no portal, no chooser behind it): another chooser may step in.
    void openFile(const std::string& title, const std::string& parent,
                  const std::vector<std::string>& extensions,
                  std::function<void(const Choice&)> done);

    // Whether the thread found no session bus to reach: then no portal can answer, and a caller
    // may take another way at once. False while it is still connecting.
    bool unreachable() const;

    // Reads the colour scheme and follows it: `changed` runs from the run loop with every value
    // the portal gives, the first one read included. Call once.
    void watchColorScheme(std::function<void(ColorScheme)> changed);

    // Waits up to `seconds` for watchColorScheme's first read: its value, or nothing when no
    // portal answered in time (a late answer still comes through `changed`).
    std::optional<ColorScheme> awaitColorScheme(double seconds);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vornik
