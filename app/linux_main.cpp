// The Linux program, for Korvash under Wine or Proton: a window when there is
// a display, the console otherwise.
#include <signal.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "app/console_front.h"
#include "app/environment.h"
#include "app/main_form.h"
#include "app/prefix_search.h"
#include "app/window_front.h"
#include "platform/files_posix.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

using dsu::app::Env;

const char kUsage[] =
    "Usage: dyvenhall-skin-updater [--console] [--yes] [--prefix DIR]\n"
    "\n"
    "Upgrades Dyvenhall skins of Korvash from version 1.3 to 1.5.\n"
    "\n"
    "Korvash is looked for in a Wine prefix: DIR when given, else WINEPREFIX,\n"
    "else ~/.wine and the Proton prefixes of every Steam library\n"
    "(steamapps/compatdata/*/pfx), keeping those whose registry names Korvash.\n"
    "\n"
    "It opens a window when DISPLAY or WAYLAND_DISPLAY names a display that\n"
    "answers, and works on the terminal otherwise.\n"
    "\n"
    "  --console    work on the terminal even when a display is available\n"
    "  --yes        update without asking (console)\n"
    "  --prefix DIR use the Wine prefix DIR\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "On the console, each status text is printed on a line of its own and each\n"
    "message as 'error: TEXT' or 'information: TEXT', its further lines indented\n"
    "under TEXT. Before updating it asks 'Update now? [Y/n]': Enter or y updates,\n"
    "n or the end of the input does not.\n"
    "\n"
    "Exit status: 0 after a finished or declined update, 1 when an install is\n"
    "missing, an operation failed or a signal (Ctrl-C, a closed terminal) stopped\n"
    "it before the update was made, 2 for a wrong command line or when several\n"
    "prefixes hold Korvash.\n";

// An interrupt, a hang-up or a termination ends a run at its next skin, its
// own temporaries removed, and ends the program at once when nothing runs.
// The handler runs on this, the main thread: the kernel gives a process's
// signal to it first, and the work pools' threads block these signals. So a
// signal is seen in step with the work: one that comes while a skin's
// message is written stops the run before the next skin. Calls it cuts short
// are restarted. A closed output is seen as a failed write, not as a signal.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

class StopSignals {
  public:
    StopSignals() {
        std::signal(SIGPIPE, SIG_IGN);
        struct sigaction action {};
        action.sa_handler = [](int) { dsu::app::StopOnSignal(); };
        action.sa_flags = SA_RESTART;
        sigfillset(&action.sa_mask);
        for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
    }
    // The program ends anyway: a signal from now on changes nothing.
    ~StopSignals() {
        for (const int signal : kStopSignals) std::signal(signal, SIG_IGN);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
};

}  // namespace

int main(int argc, char** argv) try {
    const StopSignals signals;
    bool console = false;
    bool yes = false;
    std::string named;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "dyvenhall-skin-updater " << DSU_VERSION << "\n";
            return 0;
        } else if (arg == "--console") {
            console = true;
        } else if (arg == "--yes" || arg == "-y") {
            yes = true;
        } else if (arg == "--prefix" && i + 1 < argc) {
            named = argv[++i];
        } else if (arg.rfind("--prefix=", 0) == 0) {
            named = arg.substr(9);
        } else {
            std::cerr << "dyvenhall-skin-updater: unknown argument '" << arg << "'\n\n" << kUsage;
            return 2;
        }
    }

    const bool window = !console && dsu::app::UseWindow();

    const dsu::app::PrefixChoice choice =
        dsu::app::ChoosePrefix(named, Env("WINEPREFIX"), Env("HOME"));
    if (choice.prefix.empty()) {
        std::string list =
            "Korvash is installed in several Wine prefixes; choose one with --prefix:";
        for (const std::string& prefix : choice.found) list += "\n  " + prefix;
        std::cerr << list << "\n";
        if (window) dsu::app::RunMessage(dsu::platform::FromUtf8(list), argc, argv);
        return 2;
    }
    if (choice.searched && !choice.found.empty())
        std::cout << "Using the Wine prefix " << choice.prefix << std::endl;

    auto files = dsu::platform::MakePosixFileSystem(choice.prefix);
    auto registry = dsu::platform::MakeWineRegistry(choice.prefix);

    if (window) return dsu::app::RunWindow(*files, *registry, argc, argv);
    return dsu::app::RunConsole(*files, *registry, std::cin, std::cout, yes);
} catch (const std::bad_alloc&) {
    // Outside an event, which the window's logic ends itself, the same words,
    // written without allocating (they are ASCII).
    std::cerr << "error: ";
    for (const char16_t* c = dsu::app::kNotEnoughMemory; *c != u'\0'; ++c)
        std::cerr.put(static_cast<char>(*c));
    std::cerr << std::endl;
    return 1;
}
