// The Linux program's window: Qt's (qt_front.cpp, display_probe.cpp), or
// none (no_window.cpp) in a build without Qt, where the console is all there
// is.
#pragma once

#include <string>

#include "platform/files.h"
#include "platform/registry.h"

namespace dsu::app {

// Whether to work in a window: a display is named and answers. Says so on
// the error stream when a named display does not answer.
bool UseWindow();

// Shows one error message box and ends, for what ends the program before its
// window opens.
void RunMessage(const std::u16string& text, int& argc, char** argv);

// Runs the program in its window; returns the exit status.
int RunWindow(platform::FileSystem& files, platform::Registry& registry, int& argc, char** argv);

}  // namespace dsu::app
