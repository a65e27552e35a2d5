// The Windows program: one window, no command line.
#include "platform/win32.h"
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <exception>
#include <new>
#include <string>

#include "app/window_win.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/text.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace dsu;
    // Loads comctl32 6, so the manifest's visual styles reach the controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    try {
        // Files held by another program are waited for with the window painting.
        app::PaintingClock clock;
        auto files = platform::MakeSystemFileSystem(clock);
        auto registry = platform::MakeSystemRegistry();
        app::MainWindow window(instance, *files, *registry);
        if (!window.Handle()) {
            window.ShowMessage(platform::SystemErrorText(GetLastError()),
                               platform::MessageKind::Error);
            return 1;
        }
        clock.PaintWhileWaiting(window);
        // A missing install ends the program here, before the window is shown.
        if (window.Load()) window.RunMessageLoop();
        return window.ExitCode();
    } catch (const std::bad_alloc&) {
        // Shown from its own storage: nothing is allocated for it.
        MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(app::kNotEnoughMemory),
                    reinterpret_cast<const wchar_t*>(platform::kMessageTitle),
                    MB_OK | MB_ICONERROR);
        return 1;
    } catch (const std::exception& error) {
        // what() is UTF-8; shown in 16-bit text, a path outside the code page
        // keeps its letters.
        MessageBoxW(nullptr, platform::Wide(platform::FromUtf8(error.what())),
                    platform::Wide(platform::kMessageTitle), MB_OK | MB_ICONERROR);
        return 1;
    }
}
