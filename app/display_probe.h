// Whether the Linux program can open a window: a display named in the
// environment is no use when nothing answers there.
#pragma once

namespace dsu::app {

enum class WindowSystem { None, X11, Wayland };

// X11 when DISPLAY names an X server that accepts a connection; otherwise
// Wayland when WAYLAND_DISPLAY names a compositor's socket and Qt has its
// Wayland platform plugin; otherwise None.
WindowSystem ReachableWindowSystem();

}  // namespace dsu::app
