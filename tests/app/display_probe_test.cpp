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
#include "tests/support/xvfb.h"

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

TEST(DisplayProbe, TellsWhetherADisplayAnswers) {
    testing::Xvfb xvfb("320x200x24");
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
