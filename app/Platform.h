#pragma once

namespace Platform {
// On a Wayland session with XWayland at hand, run on X11: the tray icon, an
// always-on-top tool window and placement by coordinates all work there and
// not under most Wayland compositors. An explicit QT_QPA_PLATFORM wins.
// Must run before the QApplication is made.
void preferXcbOnWayland();
} // namespace Platform
