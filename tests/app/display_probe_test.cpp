// The display probe against a real X server (Xvfb) and against names that
// nothing answers at.
#include "app/display_probe.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/temp_folder.h"

namespace dsu::app {
namespace {

// Sets the variables for one case and puts them back after it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// An Xvfb of its own; it names its display once it accepts connections.
class Xvfb {
  public:
    Xvfb() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                   "320x200x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buffer[32];
        std::string number;
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
            number.append(buffer, static_cast<std::size_t>(n));
            if (number.find('\n') != std::string::npos) break;
        }
        close(fds[0]);
        while (!number.empty() && (number.back() == '\n')) number.pop_back();
        if (!number.empty()) display_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& Display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

TEST(DisplayProbe, TellsWhetherADisplayAnswers) {
    Xvfb xvfb;
    ASSERT_FALSE(xvfb.Display().empty()) << "Xvfb did not start";
    testing::TempFolder runtime;
    runtime.MakeFolder(u"wayland-0");  // no socket
    struct Case {
        const char* name;
        std::optional<std::string> display, wayland;
        WindowSystem expected;
    };
    const Case cases[] = {
        {"nothing named", std::nullopt, std::nullopt, WindowSystem::None},
        {"an X server", xvfb.Display(), std::nullopt, WindowSystem::X11},
        {"an X server beside a dead compositor", xvfb.Display(), "wayland-0", WindowSystem::X11},
        {"no X server there", ":64123", std::nullopt, WindowSystem::None},
        {"no compositor's socket", std::nullopt, "wayland-0", WindowSystem::None},
        {"an empty name", "", "", WindowSystem::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv display("DISPLAY", c.display);
        ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.Root().string());
        EXPECT_EQ(ReachableWindowSystem(), c.expected);
    }
}

}  // namespace
}  // namespace dsu::app
