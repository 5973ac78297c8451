#pragma once
// Numbers and texts of the window, the strip and its input, in one place.

namespace vornik::app {

inline constexpr const char* kWindowTitle = "Vornik Touchbar";
inline constexpr const char* kProgramName = "vornik";

// The user guide that ships with the program, opened by the window's link (a page in docs/).
inline constexpr const char* kUserGuideName = "user-guide.html";

// The strip along the bottom of the window: 30 points high, `zoom` pixels per point.
inline constexpr double kStripHeight = 30.0;  // points
inline constexpr double kDefaultZoom = 2.0;   // pixels per point
inline constexpr double kMinZoom = 0.5;
inline constexpr double kMaxZoom = 8.0;
// The strip the instrument was designed for is this many points wide; the window starts that
// wide when the screen has room.
inline constexpr double kDesignedStripWidth = 1085.0;

// The window picture: its size in points (one point per window unit).
inline constexpr int kPictureWidth = 1000;
inline constexpr int kPictureHeight = 500;

// The link button over the picture: a 156 x 20 point rounded box whose centre lies at
// (picture width x 0.25, 16) from the picture's bottom-left corner.
inline constexpr double kLinkButtonWidth = 156.0;
inline constexpr double kLinkButtonHeight = 20.0;
inline constexpr double kLinkButtonXFraction = 0.25;
inline constexpr double kLinkButtonY = 16.0;
inline constexpr double kLinkButtonCornerRadius = 5.0;
inline constexpr double kLinkButtonFade = 0.2;  // seconds, in and out
inline constexpr double kLinkButtonLightWhite = 0.0;
inline constexpr double kLinkButtonLightAlpha = 0.07;
inline constexpr double kLinkButtonDarkWhite = 1.0;
inline constexpr double kLinkButtonDarkAlpha = 0.09;

// How long the start waits for the desktop portal's colour scheme before it goes on without;
// a later answer still switches the picture.
inline constexpr double kPortalStartWait = 0.3;  // seconds

// The status line: a band this many window units high between the picture and the strip.
inline constexpr double kStatusLineHeight = 24.0;

// Keys: a key held longer than this acts on its release too.
inline constexpr double kKeyHoldSeconds = 0.5;

// The mouse's held finger (Shift-click): its marker on the strip, and how near a click must land
// to lift it again.
inline constexpr double kHeldFingerMarkerRadius = 4.0;  // points
inline constexpr double kHeldFingerHitDistance = 8.0;   // points, along x

// The main loop: the frame rate used when the display does not tell its own, and the longest
// sleep between two looks at the clock when nothing is due.
inline constexpr int kFallbackRefreshRate = 60;  // Hz
inline constexpr double kLongestIdleWait = 0.5;  // seconds

}  // namespace vornik::app
