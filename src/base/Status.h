#pragma once
// What the user must know, shown in the window's status line for a few seconds (a file that
// could not be opened, a take saved, no sound device). Log lines stay as they are; this is for
// the person playing. Thread: main, for every call here.

#include <functional>
#include <string>
#include <string_view>

namespace vornik {

enum class StatusKind {
    info,       // a take saved, a sample restored
    warning,    // something did not happen, nothing was lost (a file refused, no device)
    recording,  // a recording under way (shown in red while it lasts)
};

// Hands one message to the status line, or to nobody when no window listens (headless tools).
// A message replaces the one shown. A recording message stays until it is replaced or cleared
// (send it again to update its elapsed time); the others fade after a few seconds.
void showStatus(std::string_view text, StatusKind kind = StatusKind::warning);

// Clears the message shown if it is of this kind (an empty text, as the sink receives it), so
// that ending a recording does not wipe a warning that came meanwhile.
inline void clearStatus(StatusKind kind) { showStatus({}, kind); }

// Receives every message while alive: the window installs one, tests read what was shown.
// Install and remove on the main thread; the newest one wins and the previous comes back.
class StatusSink {
public:
    explicit StatusSink(std::function<void(const std::string&, StatusKind)> sink);
    ~StatusSink();
    StatusSink(const StatusSink&) = delete;
    StatusSink& operator=(const StatusSink&) = delete;

private:
    std::function<void(const std::string&, StatusKind)> previous_;
};

}  // namespace vornik
