#include "display/MainView.h"

#include <cmath>

namespace vornik {
namespace {

// The envelope times never go below the shortest ramp the controls can set; a value that is not
// a number would poison every envelope it touches, so it is refused.
constexpr double kShortestEnvelope = 0.005;

}  // namespace

MainView::MainView(RunLoop& runLoop) : runLoop_(runLoop) {}

void MainView::setAttack(double seconds) {
    if (std::isnan(seconds)) return;
    mixer_.setAttack(std::max(seconds, kShortestEnvelope));
}

void MainView::setDecay(double seconds) {
    if (std::isnan(seconds)) return;
    mixer_.setDecay(std::max(seconds, kShortestEnvelope));
}

}  // namespace vornik
