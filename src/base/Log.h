#pragma once
// The system log: one line per message on stderr, prefixed "vornik: ".
// Any thread but the audio thread may log (logging takes a lock and does I/O).

#include <functional>
#include <string>
#include <string_view>

namespace vornik {

// Writes one line. Thread: any but audio.
void logLine(std::string_view text);

// printf-style, for the log lines whose texts carry numbers. Thread: any but audio.
[[gnu::format(printf, 1, 2)]] void logf(const char* format, ...);

// Sends every line to `sink` instead of stderr while alive (tests read what was logged).
// Install and remove on the main thread; sinks do not nest across threads.
class LogCapture {
public:
    explicit LogCapture(std::function<void(const std::string&)> sink);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

private:
    std::function<void(const std::string&)> previous_;
};

}  // namespace vornik
