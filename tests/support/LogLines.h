#pragma once
// Collects the log lines written, and the status messages shown, while alive.

#include <string>
#include <vector>

#include "base/Log.h"
#include "base/Status.h"

namespace vornik::test {

class LogLines {
public:
    LogLines() : capture_([this](const std::string& line) { lines.push_back(line); }) {}
    std::vector<std::string> lines;

private:
    LogCapture capture_;
};

class StatusLines {
public:
    StatusLines()
        : sink_([this](const std::string& text, StatusKind kind) {
              lines.push_back(text);
              kinds.push_back(kind);
          }) {}
    std::vector<std::string> lines;
    std::vector<StatusKind> kinds;

private:
    StatusSink sink_;
};

}  // namespace vornik::test
