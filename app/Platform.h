#pragma once

namespace Platform {
// On a Wayland session with XWayland at hand, run on X11: the tray icon, an
// always-on-top tool window and placement by coordinates all work there and
// not under most Wayland compositors. An explicit QT_QPA_PLATFORM wins.
// Must run before the QApplication is made.
void preferXcbOnWayland();
// Qt ends the process with status 1 when the display connection breaks (the X
// server or XWayland restarted); this leaves one log line saying so first, so
// a restart by the session manager has a reason beside it. Call once, early.
void logDisplayLoss();
} // namespace Platform
