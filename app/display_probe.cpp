#include "app/display_probe.h"

#include <sys/stat.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QLibraryInfo>
#include <string>

#include "app/environment.h"

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

}  // namespace dsu::app
