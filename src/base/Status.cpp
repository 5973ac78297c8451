#include "base/Status.h"

namespace vornik {
namespace {

std::function<void(const std::string&, StatusKind)>& statusSink() {
    static std::function<void(const std::string&, StatusKind)> sink;
    return sink;
}

}  // namespace

void showStatus(std::string_view text, StatusKind kind) {
    if (auto& sink = statusSink()) sink(std::string(text), kind);
}

StatusSink::StatusSink(std::function<void(const std::string&, StatusKind)> sink)
    : previous_(std::move(statusSink())) {
    statusSink() = std::move(sink);
}

StatusSink::~StatusSink() { statusSink() = std::move(previous_); }

}  // namespace vornik
