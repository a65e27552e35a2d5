#include "app/display_probe.h"

#include <sys/stat.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/environment.h"
#include "app/window_front.h"

namespace dsu::app {

namespace {

// Qt ends the program when its platform cannot start, so the display is
// tried first with the library Qt's own X11 plugin uses.
bool XServerAnswers() {
    if (Env("DISPLAY").empty()) return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

bool WaylandReachable() {
    const std::string name = Env("WAYLAND_DISPLAY");
    if (name.empty()) return false;
    const std::string socket = name.front() == '/' ? name : Env("XDG_RUNTIME_DIR") + "/" + name;
    struct stat st;
    if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty();
}

}  // namespace

WindowSystem ReachableWindowSystem() {
    if (XServerAnswers()) return WindowSystem::X11;
    if (WaylandReachable()) return WindowSystem::Wayland;
    return WindowSystem::None;
}

// Qt would end the program on a display that does not answer, so the console
// takes over then.
bool UseWindow() {
    if (!Env("QT_QPA_PLATFORM").empty()) return true;
    if (Env("DISPLAY").empty() && Env("WAYLAND_DISPLAY").empty()) return false;
    switch (ReachableWindowSystem()) {
        case WindowSystem::X11:
            return true;
        case WindowSystem::Wayland:
            // Without DISPLAY, Qt would not look for Wayland on its own.
            setenv("QT_QPA_PLATFORM", "wayland", 1);
            return true;
        case WindowSystem::None:
            break;
    }
    std::cerr << "dyvenhall-skin-updater: no display answers; working on the terminal\n";
    return false;
}

}  // namespace dsu::app
