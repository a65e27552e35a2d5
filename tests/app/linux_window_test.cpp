// The Linux program's window end to end: the real executable on an X server
// of the test's own (Xvfb), driven by keys typed through XTEST (xdotool).
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/front_install.h"
#include "tests/support/wine_prefix.h"
#include "tests/support/xvfb.h"

namespace dsu::app {
namespace {

using namespace std::chrono_literals;
using testing::AppPaths;
using testing::FakeWinePrefix;
using testing::RegText;
using Clock = std::chrono::steady_clock;

constexpr char kCaption[] = "Update SP3 Skins to 1.5";
constexpr char kBoxTitle[] = "Dyvenhall Skin Updater";
// Generous: the program runs under the sanitizers.
constexpr auto kPatience = 60s;

// Polls `done` until it holds or the patience runs out.
template <class Condition>
bool WaitFor(Condition&& done) {
    for (const auto end = Clock::now() + kPatience; Clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& output = "/dev/null") {
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        const int null = ::open("/dev/null", O_RDONLY);
        dup2(null, 0);
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// An X server of the test's own, and a connection to it for finding windows
// by title and asking one to close as a window manager would.
class XServer {
  public:
    XServer() {
        if (xvfb_.Display().empty()) return;
        display_ = xvfb_.Display();
        connection_ = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(connection_)) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~XServer() {
        if (connection_ != nullptr) xcb_disconnect(connection_);
    }
    bool Ready() const { return root_ != 0; }
    const std::string& Display() const { return display_; }

    // The shown top-level windows titled `title`.
    std::vector<xcb_window_t> Windows(const std::string& title) {
        std::vector<xcb_window_t> found;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (tree == nullptr) return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            if (Title(children[i]) == title && Viewable(children[i])) found.push_back(children[i]);
        }
        free(tree);
        return found;
    }

    // A shown window titled `title` other than those in `seen`, once there is one.
    std::optional<xcb_window_t> WaitForNew(const std::string& title,
                                           const std::set<xcb_window_t>& seen = {}) {
        std::optional<xcb_window_t> window;
        WaitFor([&] {
            for (xcb_window_t w : Windows(title))
                if (!seen.count(w)) window = w;
            return window.has_value();
        });
        return window;
    }

    bool WaitUntilGone(xcb_window_t window) {
        return WaitFor([&] { return !Viewable(window); });
    }

    // Focuses `window` and types `keys` into it (xdotool's key names).
    void Type(xcb_window_t window, const std::string& keys) {
        Xdotool({"windowfocus", "--sync", std::to_string(window)});
        Xdotool({"key", keys});
    }

    // WM_DELETE_WINDOW, as the close box of a window manager sends it.
    void Close(xcb_window_t window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = Atom("WM_PROTOCOLS");
        event.data.data32[0] = Atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(connection_);
    }

  private:
    xcb_atom_t Atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(reply);
        return atom;
    }
    std::string Title(xcb_window_t window) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256),
            nullptr);
        if (reply == nullptr) return "";
        std::string title(static_cast<const char*>(xcb_get_property_value(reply)),
                          static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        free(reply);
        return title;
    }
    bool Viewable(xcb_window_t window) {
        xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool viewable = reply != nullptr && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        free(reply);
        return viewable;
    }
    void Xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        const pid_t pid = Spawn(args, {"DISPLAY=" + display_, "PATH=/usr/bin:/bin"});
        waitpid(pid, nullptr, 0);
    }

    testing::Xvfb xvfb_;
    std::string display_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

// The program this build made, or the one named by DSU_PROGRAM, such as the
// one unpacked from the portable archive.
std::string ProgramPath() {
    if (const char* named = std::getenv("DSU_PROGRAM"); named != nullptr && *named != '\0')
        return named;
    return DSU_LINUX_PROGRAM;
}

// The program in its window on `x`, with HOME at `home` and no WINEPREFIX.
class Program {
  public:
    Program(XServer& x, const std::vector<std::string>& args, const std::filesystem::path& home)
        : output_(home / "program-output.txt") {
        std::vector<std::string> argv = {ProgramPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = Spawn(argv,
                     {"DISPLAY=" + x.Display(), "HOME=" + home.string(), "PATH=/usr/bin:/bin",
                      "XDG_RUNTIME_DIR=" + home.string(), "ASAN_OPTIONS=detect_leaks=0"},
                     output_.string());
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status once it ended; nullopt when it would not.
    std::optional<int> Status() {
        int status = 0;
        bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended) return std::nullopt;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Output() const { return testing::ReadBytes(output_); }
    void Signal(int signal) const { kill(pid_, signal); }
    // Until its main thread has waited in poll(2) for a while, as it does only
    // between events (the start-up's survey waits on its work otherwise).
    bool WaitUntilIdle() const {
        int steady = 0;
        return WaitFor([&] {
            std::ifstream call("/proc/" + std::to_string(pid_) + "/syscall");
            long number = -1;
            call >> number;
            steady = number == SYS_poll || number == SYS_ppoll ? steady + 1 : 0;
            return steady >= 10;
        });
    }

  private:
    std::filesystem::path output_;
    pid_t pid_ = -1;
};

const AppPaths kFront = {RegText(testing::kFrontHost), RegText(testing::kFrontPaint)};

std::string Skin(const FakeWinePrefix& prefix, std::u16string_view name) {
    return prefix.Read(testing::kFrontTrains + std::u16string(name) + u"/skin.dat");
}

class LinuxWindow : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(x_.Ready()) << "Xvfb did not start"; }
    XServer x_;
};

// How the window ends: by its close box, or by a termination (a desktop
// logging out, `kill`), which ends it at once when nothing runs, and during a
// run once nothing is left to stop.
TEST_F(LinuxWindow, AnUpdateRunAndHowTheWindowEnds) {
    enum When { None, Idle, AfterTheRun, AtTheLastBox };
    struct Case {
        const char* name;
        bool run;       // Update Now is clicked
        When signaled;  // when SIGTERM comes; the close box after the run otherwise
        int status;
    };
    const Case cases[] = {
        {"the close box after the run", true, None, 0},
        {"a termination before a run", false, Idle, 1},
        {"a termination after the run", true, AfterTheRun, 0},
        {"a termination while the last skin's box is up, then its click", true, AtTheLastBox, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWinePrefix prefix(kFront, testing::FrontInstall());
        Program program(x_, {"--prefix", prefix.Prefix()}, prefix.Folder().Root());

        const auto window = x_.WaitForNew(kCaption);
        ASSERT_TRUE(window) << program.Output();
        if (c.run) {
            x_.Type(*window, "alt+u");
            // The run's message boxes, each answered by Enter; after a
            // termination at the last skin's, the run has nothing left to
            // stop and ends without another.
            const std::size_t boxes = testing::Messages(testing::FrontRun()).size();
            std::set<xcb_window_t> seen;
            for (std::size_t i = 0; i < (c.signaled == AtTheLastBox ? 1 : boxes); ++i) {
                SCOPED_TRACE(i);
                const auto box = x_.WaitForNew(kBoxTitle, seen);
                ASSERT_TRUE(box);
                seen.insert(*box);
                if (c.signaled == AtTheLastBox) program.Signal(SIGTERM);
                x_.Type(*box, "Return");
                ASSERT_TRUE(x_.WaitUntilGone(*box));
            }
        }
        if (c.signaled == None) {
            EXPECT_TRUE(x_.Windows(kBoxTitle).empty());
            ASSERT_EQ(x_.Windows(kCaption).size(), 1u);
            x_.Close(*window);
        } else if (c.signaled != AtTheLastBox) {
            ASSERT_TRUE(program.WaitUntilIdle());
            program.Signal(SIGTERM);
        }
        EXPECT_EQ(program.Status(), c.status) << program.Output();
        EXPECT_EQ(Skin(prefix, u"a"), c.run ? testing::kFrontUpgradedA
                                            : testing::FrontInstall().at(
                                                  "GAMES/Korvash/world/custom/TRAINS/a/skin.dat"));
        // Before a run, not even the template's copy is made.
        EXPECT_EQ(prefix.Exists(u"GAMES/Dyvenhall/SKINS/gp38_hi_dyn/body.tga"), c.run);
    }
}

TEST_F(LinuxWindow, ARunThatFailsEndsTheProgram) {
    FakeWinePrefix prefix(kFront, testing::FrontInstall());
    prefix.MakeFolder(testing::kFrontTrains + std::u16string(u"a/skin.dat.tmp"));
    Program program(x_, {"--prefix", prefix.Prefix()}, prefix.Folder().Root());

    const auto window = x_.WaitForNew(kCaption);
    ASSERT_TRUE(window) << program.Output();
    x_.Type(*window, "alt+u");
    const auto box = x_.WaitForNew(kBoxTitle);
    ASSERT_TRUE(box);
    x_.Type(*box, "Return");
    EXPECT_EQ(program.Status(), 1);
    EXPECT_EQ(Skin(prefix, u"a"),
              testing::FrontInstall().at("GAMES/Korvash/world/custom/TRAINS/a/skin.dat"));
}

TEST_F(LinuxWindow, EndsWithOneBox) {
    namespace fs = std::filesystem;
    struct Case {
        const char* name;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {"missing install", 1, ""},
        {"several prefixes", 2, "choose one with --prefix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempFolder home;
        std::vector<std::string> args;
        std::optional<FakeWinePrefix> missing;
        if (c.status == 1) {
            missing.emplace(AppPaths{});
            args = {"--prefix", missing->Prefix()};
        } else {
            for (const char* at : {".wine", ".local/share/Steam/steamapps/compatdata/9/pfx"}) {
                FakeWinePrefix made(kFront);
                fs::create_directories((home.Root() / at).parent_path());
                fs::copy(made.Prefix(), home.Root() / at,
                         fs::copy_options::recursive | fs::copy_options::copy_symlinks);
            }
        }
        Program program(x_, args, home.Root());
        const auto box = x_.WaitForNew(kBoxTitle);
        ASSERT_TRUE(box) << program.Output();
        EXPECT_TRUE(x_.Windows(kCaption).empty());
        x_.Type(*box, "Return");
        EXPECT_EQ(program.Status(), c.status);
        EXPECT_NE(program.Output().find(c.output), std::string::npos) << program.Output();
    }
}

}  // namespace
}  // namespace dsu::app
