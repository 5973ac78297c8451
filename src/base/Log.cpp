#include "base/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace vornik {
namespace {

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& logSink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

}  // namespace

void logLine(std::string_view text) {
    std::lock_guard lock(logMutex());
    if (auto& sink = logSink()) {
        sink(std::string(text));
        return;
    }
    std::fprintf(stderr, "vornik: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

void logf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    logLine(std::string_view(text.data(), n > 0 ? static_cast<size_t>(n) : 0));
}

LogCapture::LogCapture(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(logMutex());
    previous_ = std::move(logSink());
    logSink() = std::move(sink);
}

LogCapture::~LogCapture() {
    std::lock_guard lock(logMutex());
    logSink() = std::move(previous_);
}

}  // namespace vornik
