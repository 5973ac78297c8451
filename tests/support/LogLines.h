#pragma once
// Collects the log lines written while alive.

#include <string>
#include <vector>

#include "base/Log.h"

namespace vornik::test {

class LogLines {
public:
    LogLines() : capture_([this](const std::string& line) { lines.push_back(line); }) {}
    std::vector<std::string> lines;

private:
    LogCapture capture_;
};

}  // namespace vornik::test
