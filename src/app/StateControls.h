#pragma once
// The controls' part of the kept state: read from the window controller, and set back through
// the controller's own actions, so that the bars, labels, icons and the instrument's parameters
// and effect units all follow as if the user had moved each control. Thread: main.

#include "app/WindowController.h"
#include "session/SessionState.h"

namespace vornik {

// The controls the user has moved (a control never moved is left out), the play mode and the
// control bar last shown.
void captureControls(const WindowController& controller, SessionState& state);

// Builds every control and sets those the state holds, each through its action (the delay time
// reaches the instrument when its timer fires, 0.1 s later). The bar shown stays as it is; the
// control bar last shown becomes the state's.
void restoreControls(WindowController& controller, const SessionState& state);

}  // namespace vornik
