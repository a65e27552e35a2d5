// The Linux program end to end: the real executable on Wine prefixes that
// the tests lay out, driven through its console.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/support/front_install.h"
#include "tests/support/wine_prefix.h"

namespace dsu::app {
namespace {

using testing::AppPaths;
using testing::FakeWinePrefix;
using testing::RegText;
using testing::Shown;

struct Result {
    int status = -1;
    std::string output;
};

constexpr std::string_view kPrompt = "Update now? [Y/n] ";

// Runs the program with `args`, `input` on its standard input, and an
// environment of HOME only (no display, no WINEPREFIX) plus `extraEnv`.
// `atPrompt`, when given, runs once the program asks, before the input comes.
// With `interruptAt`, its input stays open until it has written that much
// and then it gets SIGINT, as from Ctrl-C; it has a minute to end.
Result RunProgram(const std::vector<std::string>& args, const std::string& input,
                  const std::string& home, const std::vector<std::string>& extraEnv = {},
                  const std::function<void()>& atPrompt = {}, const std::string& interruptAt = "") {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(in[1]);
        close(out[0]);
        std::vector<std::string> env = {"HOME=" + home, "PATH=/usr/bin:/bin",
                                        "ASAN_OPTIONS=detect_leaks=0"};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> argv = {const_cast<char*>(DSU_LINUX_PROGRAM)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(DSU_LINUX_PROGRAM, argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    Result result;
    char buffer[4096];
    if (atPrompt) {
        for (ssize_t n;
             !result.output.ends_with(kPrompt) && (n = read(out[0], buffer, sizeof buffer)) > 0;)
            result.output.append(buffer, n);
        atPrompt();
    }
    // Small inputs fit the pipe; the program reads them when it asks.
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    int status = 0;
    bool ended = false;
    if (!interruptAt.empty()) {
        while (result.output.size() < interruptAt.size()) {
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            result.output.append(buffer, n);
        }
        kill(pid, SIGINT);
        // Its input closed only after the minute, which a program that took
        // the interrupt for the end of the input would need.
        for (int tenths = 0; tenths < 600 && !ended; ++tenths) {
            ended = waitpid(pid, &status, WNOHANG) == pid;
            if (!ended) usleep(100 * 1000);
        }
    }
    close(in[1]);
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, n);
    close(out[0]);
    if (!ended) waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// A prefix holding the front ends' install.
struct FrontPrefix : FakeWinePrefix {
    FrontPrefix() : FakeWinePrefix(kFront, testing::FrontInstall()) {}
    static inline const AppPaths kFront = {RegText(testing::kFrontHost),
                                           RegText(testing::kFrontPaint)};
};

// The program on the prefix, its home the prefix's folder.
Result RunOn(const FakeWinePrefix& prefix, std::vector<std::string> args,
             const std::string& input = "", const std::vector<std::string>& env = {},
             const std::function<void()>& atPrompt = {}, const std::string& interruptAt = "") {
    args.insert(args.end(), {"--prefix", prefix.Prefix()});
    return RunProgram(args, input, prefix.Folder().Root().string(), env, atPrompt, interruptAt);
}

// How the console shows a transcript: statuses as lines, messages as
// "error: " or "information: " with their further lines indented below.
std::string Console(const std::vector<Shown>& shown) {
    std::string text;
    for (const Shown& s : shown) {
        const std::string start = s.kind == Shown::Status  ? ""
                                  : s.kind == Shown::Error ? "error: "
                                                           : "information: ";
        std::string body = s.text;
        for (std::size_t at; (at = body.find("\r\n")) != std::string::npos;)
            body.replace(at, 2, "\n" + std::string(start.size(), ' '));
        text += start + body + "\n";
    }
    return text;
}

const std::string kScan = Console(testing::FrontStartUp());
const std::string kRunOutput = Console(testing::FrontRun());

std::string Skin(const FakeWinePrefix& prefix, std::u16string_view name) {
    return prefix.Read(testing::kFrontTrains + std::u16string(name) + u"/skin.dat");
}

TEST(LinuxProgram, ConsoleRunsAndAnswers) {
    namespace fs = std::filesystem;
    const std::string scan = kScan + std::string(kPrompt);
    const std::string& run = kRunOutput;
    // The player's backup while the program asks: the skins folder renamed,
    // and copied back under its name.
    const std::u16string trains = u"GAMES/Korvash/world/custom/TRAINS";
    const auto backUp = [&](const FakeWinePrefix& prefix) {
        const fs::path folder = prefix.Folder().Host(u"prefix/drive_c/" + trains);
        fs::rename(folder, folder.string() + ".bak");
        fs::copy(folder.string() + ".bak", folder, fs::copy_options::recursive);
    };
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        std::string output;
        bool upgraded;
        std::function<void(const FakeWinePrefix&)> atPrompt = {};
        bool interrupt = false;  // Ctrl-C at the question
        int status = 0;
    };
    const Case cases[] = {
        {"enter", {}, "\n", scan + run, true},
        {"y", {}, "y\n", scan + run, true},
        {"asked again", {}, "maybe\nY\n", scan + "Update now? [Y/n] " + run, true},
        {"n", {}, "n\n", scan, false},
        {"end of input", {}, "", scan + "\n", false},
        {"--yes", {"--yes"}, "", kScan + run, true},
        // The folder named Trains at the update is the one upgraded.
        {"Trains renamed and copied back meanwhile", {}, "\n", scan + run, true, backUp},
        {"ctrl-c at the question", {}, "", scan, false, {}, true, 1},
        {"ctrl-c, asked again", {}, "maybe\n", scan + std::string(kPrompt), false, {}, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrontPrefix prefix;
        std::vector<std::string> args = {"--console"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result =
            RunOn(prefix, args, c.input, {},
                  c.atPrompt ? [&] { c.atPrompt(prefix); } : std::function<void()>{},
                  c.interrupt ? c.output : "");
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(Skin(prefix, u"a"),
                  c.upgraded ? testing::kFrontUpgradedA : "1.3\r\ngp38\\Body\r\nmine\r\n");
        EXPECT_EQ(Skin(prefix, u"b"), "1.3\r\nf7\\Body\r\n");
        EXPECT_EQ(prefix.Exists(u"GAMES/Dyvenhall/SKINS/gp38_hi_dyn/body.tga"), c.upgraded);
        if (c.atPrompt) {
            // The backup is byte for byte as it was.
            EXPECT_EQ(prefix.Read(trains + u".bak/a/skin.dat"), "1.3\r\ngp38\\Body\r\nmine\r\n");
            EXPECT_EQ(prefix.Read(trains + u".bak/b/skin.dat"), "1.3\r\nf7\\Body\r\n");
            EXPECT_FALSE(prefix.Exists(trains + u".bak/a/skin.dat.tmp"));
        }
    }
}

TEST(LinuxProgram, ARunEndsOnAFailure) {
    FrontPrefix prefix;
    // Where a's new descriptor is to be written, a folder is in the way.
    prefix.MakeFolder(testing::kFrontTrains + std::u16string(u"a/skin.dat.tmp"));
    const Result result = RunOn(prefix, {"--console", "--yes"});
    EXPECT_EQ(result.status, 1);
    // The run stops there, without its closing message, and b is left alone.
    EXPECT_EQ(result.output,
              kScan +
                  "Scanning for Kuids...\nUpgrading Sp3 Skins...\n"
                  "error: Could not create "
                  "C:\\Games\\Korvash\\World\\Custom\\Trains\\a\\skin.dat.tmp: Is a directory.\n");
    EXPECT_EQ(Skin(prefix, u"a"), "1.3\r\ngp38\\Body\r\nmine\r\n");
    EXPECT_EQ(Skin(prefix, u"b"), "1.3\r\nf7\\Body\r\n");
}

// The App Paths keys in the 64-bit view, in the 32-bit one (Wow6432Node)
// where a 32-bit installer writes them, or in both.
std::vector<install::AppPath> Keys(bool host32, bool paint32,
                                   std::optional<std::string> elsewhere = std::nullopt) {
    const AppPaths& front = FrontPrefix::kFront;
    std::vector<install::AppPath> keys = {
        {"korvash.exe", front.host, std::nullopt, host32},
        {"Korvash Dyvenhall.exe", front.paint, std::nullopt, paint32}};
    if (elsewhere) {
        keys.push_back({"korvash.exe", elsewhere, std::nullopt, !host32});
        keys.push_back({"Korvash Dyvenhall.exe", elsewhere, std::nullopt, !paint32});
    }
    return keys;
}

TEST(LinuxProgram, ReadsTheInstallsFromEitherRegistryView) {
    struct Case {
        const char* name;
        std::vector<install::AppPath> keys;
    };
    const Case cases[] = {
        {"64-bit view", Keys(false, false)},
        {"32-bit view", Keys(true, true)},
        {"32-bit view first", Keys(true, true, RegText("C:\\Elsewhere\\"))},
        {"one in each view", Keys(true, false)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWinePrefix prefix({testing::FrontInstall(), c.keys});
        const Result result = RunOn(prefix, {"--console", "--yes"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, kScan + kRunOutput);
        EXPECT_EQ(Skin(prefix, u"a"), testing::kFrontUpgradedA);
    }
}

TEST(LinuxProgram, MissingKuidsComeInListingOrder) {
    FrontPrefix prefix;
    // Made in neither byte order nor listing order.
    const std::u16string trains = testing::kFrontTrains;
    struct Skin {
        std::u16string folder;
        std::string before, after;
    };
    const Skin skins[] = {
        {u"Zed", "1.3\r\nf7\\Body\r\n", "1.3\r\nf7\\Body\r\n"},
        {u"Mid", "1.3\r\ngp38\\Cab\r\nx\r\n", "1.3\r\ngp38\\Cab\r\nx\r\n"},
        {u"old", "1.5\r\ngp38\\Cab\r\n", "1.5\r\ngp38\\Cab\r\n"},
        {u"alpha", "1.3\r\nsd40\\Roof\r\n", "1.3\r\nsd40\\Roof\r\n"},
        {u"a", "1.3\r\ngp38\\Body\r\nmine\r\n", testing::kFrontUpgradedA},
        {u"b", "1.3\r\nf7\\Body\r\n", "1.3\r\nf7\\Body\r\n"},
    };
    for (const Skin& skin : skins) prefix.Write(trains + skin.folder + u"/skin.dat", skin.before);
    prefix.MakeFolder(trains + u"empty");

    const Result result = RunOn(prefix, {"--console", "--yes"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output,
              "Scanning for Skins...\n5 Skins need to be updated.\n"
              "Scanning for Kuids...\nUpgrading Sp3 Skins...\n"
              "error: Could not find a kuid for sd40\n       alpha not upgraded.\n"
              "error: Could not find a kuid for f7\n       b not upgraded.\n"
              "error: Could not find a kuid for gp38_hi_dyn_Cab\n       Mid not upgraded.\n"
              "error: Could not find a kuid for f7\n       Zed not upgraded.\n"
              "Skins have been upgraded.\ninformation: Skins have been upgraded.\n");
    for (const Skin& skin : skins) {
        SCOPED_TRACE(std::string(skin.folder.begin(), skin.folder.end()));
        EXPECT_EQ(prefix.Read(trains + skin.folder + u"/skin.dat"), skin.after);
    }
    EXPECT_FALSE(prefix.Exists(trains + u"empty/skin.dat"));
}

TEST(LinuxProgram, EndsWithAStatusThatSaysWhy) {
    struct Case {
        const char* name;
        AppPaths values;
        std::u16string emptyDescriptor;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {"both missing",
         {},
         u"",
         1,
         "error: Trains could not be found.  You may have to reinstall.\n"},
        {"painter missing",
         {FrontPrefix::kFront.host, std::nullopt},
         u"",
         1,
         "error: Dyvenhall could not be found.  You may have to reinstall.\n"},
        {"nothing to update", FrontPrefix::kFront, u"", 0,
         "Scanning for Skins...\n0 Skins need to be updated.\n"},
        {"empty skin.dat", FrontPrefix::kFront, u"GAMES/Korvash/World/Custom/Trains/x/skin.dat", 1,
         "Scanning for Skins...\nerror: Could not read "
         "C:\\Games\\Korvash\\World\\Custom\\Trains\\x\\skin.dat: Reached the end of the "
         "file.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWinePrefix prefix(c.values);
        prefix.MakeFolder(u"GAMES/Korvash/World/Custom/Trains");
        if (!c.emptyDescriptor.empty()) prefix.Write(c.emptyDescriptor, "");
        const Result result = RunOn(prefix, {"--console"});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.output, c.output);
    }
}

TEST(LinuxProgram, FindsThePrefixInSteamLibraries) {
    namespace fs = std::filesystem;
    testing::TempFolder home;
    auto makePrefix = [&](const fs::path& at, const install::Install& layout) {
        FakeWinePrefix made(layout);
        fs::create_directories(at.parent_path());
        fs::copy(made.Prefix(), at, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    };
    const fs::path root = home.Root();
    makePrefix(root / ".wine", {});  // a prefix without Korvash is passed over
    fs::create_directories(root / ".steam");
    fs::create_directory_symlink(root / ".local/share/Steam", root / ".steam/steam");
    home.Write(u".local/share/Steam/steamapps/libraryfolders.vdf",
               "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + root.string() +
                   "/.local/share/Steam\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + root.string() +
                   "/games/SteamLibrary\"\n\t\t\"label\"\t\t\"\"\n\t}\n}\n");
    // Korvash's 32-bit installer wrote its key into the 32-bit view.
    makePrefix(root / "games/SteamLibrary/steamapps/compatdata/4242/pfx",
               {testing::FrontInstall(), Keys(true, true)});

    Result result = RunProgram({"--console", "--yes"}, "", root.string());
    const std::string found = (root / "games/SteamLibrary/steamapps/compatdata/4242/pfx").string();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.rfind("Using the Wine prefix " + found + "\n", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("information: Skins have been upgraded."), std::string::npos);

    // Flatpak Steam holds a second one: the player must choose.
    makePrefix(
        root / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7/pfx",
        {testing::FrontInstall(), Keys(false, false)});
    result = RunProgram({"--console", "--yes"}, "", root.string());
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.output.find("choose one with --prefix"), std::string::npos);
    EXPECT_NE(result.output.find(found), std::string::npos);
    EXPECT_NE(result.output.find("compatdata/7/pfx"), std::string::npos);

    // WINEPREFIX names the prefix without any search.
    result =
        RunProgram({"--console"}, "", root.string(), {"WINEPREFIX=" + (root / ".wine").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "error: Trains could not be found.  You may have to reinstall.\n");

    // None at all: the program's own message.
    testing::TempFolder empty;
    result = RunProgram({"--console"}, "", empty.Root().string());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "error: Trains could not be found.  You may have to reinstall.\n");
}

TEST(LinuxProgram, WorksOnTheTerminalWhenNoDisplayAnswers) {
#ifdef DSU_HAVE_QT
    const std::string note =
        "dyvenhall-skin-updater: no display answers; working on the terminal\n";
#else
    const std::string note;  // no window to fall back from
#endif
    testing::TempFolder runtime;
    runtime.MakeFolder(u"wayland-0");  // a folder where the compositor's socket would be
    struct Case {
        const char* name;
        std::vector<std::string> env;
        std::string note;
    };
    const Case cases[] = {
        {"none named", {}, ""},
        {"X server gone", {"DISPLAY=:64123"}, note},
        {"no compositor",
         {"WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=" + runtime.Root().string()},
         note},
        {"neither",
         {"DISPLAY=:64123", "WAYLAND_DISPLAY=wayland-9",
          "XDG_RUNTIME_DIR=" + runtime.Root().string()},
         note},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrontPrefix prefix;
        const Result result = RunOn(prefix, {"--yes"}, "", c.env);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, c.note + kScan + kRunOutput);
    }
}

TEST(LinuxProgram, CommandLine) {
    testing::TempFolder home;
    Result result = RunProgram({"--version"}, "", home.Root().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, std::string("dyvenhall-skin-updater ") + DSU_VERSION + "\n");
    result = RunProgram({"--help"}, "", home.Root().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("--prefix DIR"), std::string::npos);
    result = RunProgram({"--frobnicate"}, "", home.Root().string());
    EXPECT_EQ(result.status, 2);
}

}  // namespace
}  // namespace dsu::app
