// The Linux program end to end: the real executable on Wine prefixes that
// the tests lay out, driven through its console.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/support/wine_prefix.h"

namespace dsu::app {
namespace {

using testing::AppPaths;
using testing::FakeWinePrefix;
using testing::RegText;

struct Result {
    int status = -1;
    std::string output;
};

// Runs the program with `args`, `input` on its standard input, and an
// environment of HOME only (no display, no WINEPREFIX) plus `extraEnv`.
Result RunProgram(const std::vector<std::string>& args, const std::string& input,
                  const std::string& home, const std::vector<std::string>& extraEnv = {}) {
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
    // Small inputs fit the pipe; the program reads them when it asks.
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    Result result;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

const std::string kHost = RegText("C:\\Games\\Korvash");
const std::string kPaint = RegText("c:\\games\\dyvenhall\\");

// Folder names in other letter cases than the program's paths.
void MakeInstall(const FakeWinePrefix& prefix) {
    prefix.Write(u"GAMES/Dyvenhall/SKINS/gp38/config.txt", "kuid <kuid:1:100>\r\n");
    prefix.Write(u"GAMES/Dyvenhall/SKINS/gp38/body.tga", "body");
    prefix.Write(u"GAMES/Korvash/world/DISPATCHER/downloads/gp38_hi_dyn_Body/config.txt",
                 "kuid <kuid:2:100>\r\n");
    const std::u16string trains = u"GAMES/Korvash/world/custom/TRAINS/";
    prefix.Write(trains + u"a/skin.dat", "1.3\r\ngp38\\Body\r\nmine\r\n");
    prefix.Write(trains + u"b/skin.dat", "1.3\r\ngp38\\Cab\r\n");
}

constexpr char kUpgradedA[] = "1.5\r\n<kuid:2:100>\\<kuid:1:100>\r\nmine\r\n";

// What the console prints for an update run on MakeInstall's skins.
const std::string kRunOutput =
    "Scanning for Kuids...\nUpgrading Sp3 Skins...\n"
    "error: Could not find a kuid for gp38_hi_dyn_Cab\n       b not upgraded.\n"
    "Skins have been upgraded.\ninformation: Skins have been upgraded.\n";

// One App Paths key as Wine saves it; `view` is "" for the 64-bit view or
// "Wow6432Node\\\\" for the 32-bit one.
std::string AppPathsKey(const std::string& view, const std::string& exe, const std::string& value) {
    return "[Software\\\\" + view + "Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\" +
           exe + "] 1700000000\n#time=1da0000000000000\n\"Path\"=" + value + "\n\n";
}

void WriteSystemReg(const std::string& prefix, const std::string& keys) {
    testing::WriteBytes(std::filesystem::path(prefix) / "system.reg",
                        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                        "#arch=win64\n\n" +
                            keys);
}

const std::string kWow = "Wow6432Node\\\\";

TEST(LinuxProgram, ConsoleRunsAndAnswers) {
    const std::string scan =
        "Scanning for Skins...\n2 Skins need to be updated.\nUpdate now? [Y/n] ";
    const std::string& run = kRunOutput;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        std::string output;
        bool upgraded;
    };
    const Case cases[] = {
        {"enter", {}, "\n", scan + run, true},
        {"y", {}, "y\n", scan + run, true},
        {"asked again", {}, "maybe\nY\n", scan + "Update now? [Y/n] " + run, true},
        {"n", {}, "n\n", scan, false},
        {"end of input", {}, "", scan + "\n", false},
        {"--yes",
         {"--yes"},
         "",
         "Scanning for Skins...\n2 Skins need to be updated.\n" + run,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWinePrefix prefix({kHost, kPaint});
        MakeInstall(prefix);
        std::vector<std::string> args = {"--console", "--prefix", prefix.Prefix()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = RunProgram(args, c.input, prefix.Folder().Root().string());
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, c.output);
        const std::u16string trains = u"GAMES/Korvash/world/custom/TRAINS/";
        EXPECT_EQ(prefix.Read(trains + u"a/skin.dat"),
                  c.upgraded ? kUpgradedA : "1.3\r\ngp38\\Body\r\nmine\r\n");
        EXPECT_EQ(prefix.Read(trains + u"b/skin.dat"), "1.3\r\ngp38\\Cab\r\n");
        EXPECT_EQ(prefix.Exists(u"GAMES/Dyvenhall/SKINS/gp38_hi_dyn/body.tga"), c.upgraded);
    }
}

TEST(LinuxProgram, ARunEndsOnAFailure) {
    FakeWinePrefix prefix({kHost, kPaint});
    MakeInstall(prefix);
    // Where a's new descriptor is to be written, a folder is in the way.
    const std::u16string trains = u"GAMES/Korvash/world/custom/TRAINS/";
    prefix.MakeFolder(trains + u"a/skin.dat.tmp");
    const Result result = RunProgram({"--console", "--yes", "--prefix", prefix.Prefix()}, "",
                                     prefix.Folder().Root().string());
    EXPECT_EQ(result.status, 1);
    // The run stops there, without its closing message, and b is left alone.
    EXPECT_EQ(result.output,
              "Scanning for Skins...\n2 Skins need to be updated.\n"
              "Scanning for Kuids...\nUpgrading Sp3 Skins...\n"
              "error: Could not create "
              "C:\\Games\\Korvash\\World\\Custom\\Trains\\a\\skin.dat.tmp: Is a directory.\n");
    EXPECT_EQ(prefix.Read(trains + u"a/skin.dat"), "1.3\r\ngp38\\Body\r\nmine\r\n");
    EXPECT_EQ(prefix.Read(trains + u"b/skin.dat"), "1.3\r\ngp38\\Cab\r\n");
}

TEST(LinuxProgram, ReadsTheInstallsFromEitherRegistryView) {
    const std::string elsewhere = RegText("C:\\Elsewhere\\");
    struct Case {
        const char* name;
        std::string keys;
    };
    const Case cases[] = {
        {"64-bit view",
         AppPathsKey("", "korvash.exe", kHost) + AppPathsKey("", "Korvash Dyvenhall.exe", kPaint)},
        {"32-bit view", AppPathsKey(kWow, "korvash.exe", kHost) +
                            AppPathsKey(kWow, "Korvash Dyvenhall.exe", kPaint)},
        {"32-bit view first", AppPathsKey("", "korvash.exe", elsewhere) +
                                  AppPathsKey(kWow, "korvash.exe", kHost) +
                                  AppPathsKey("", "Korvash Dyvenhall.exe", elsewhere) +
                                  AppPathsKey(kWow, "Korvash Dyvenhall.exe", kPaint)},
        {"one in each view", AppPathsKey(kWow, "korvash.exe", kHost) +
                                 AppPathsKey("", "Korvash Dyvenhall.exe", kPaint)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWinePrefix prefix({});
        WriteSystemReg(prefix.Prefix(), c.keys);
        MakeInstall(prefix);
        const Result result = RunProgram({"--console", "--yes", "--prefix", prefix.Prefix()}, "",
                                         prefix.Folder().Root().string());
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output,
                  "Scanning for Skins...\n2 Skins need to be updated.\n" + kRunOutput);
        EXPECT_EQ(prefix.Read(u"GAMES/Korvash/world/custom/TRAINS/a/skin.dat"), kUpgradedA);
    }
}

TEST(LinuxProgram, MissingKuidsComeInListingOrder) {
    FakeWinePrefix prefix({kHost, kPaint});
    prefix.Write(u"GAMES/Dyvenhall/SKINS/gp38/config.txt", "kuid <kuid:1:100>\r\n");
    prefix.Write(u"GAMES/Korvash/world/DISPATCHER/downloads/gp38_hi_dyn_Body/config.txt",
                 "kuid <kuid:2:100>\r\n");
    // Made in neither byte order nor listing order.
    const std::u16string trains = u"GAMES/Korvash/world/custom/TRAINS/";
    struct Skin {
        std::u16string folder;
        std::string before, after;
    };
    const Skin skins[] = {
        {u"Zed", "1.3\r\nf7\\Body\r\n", "1.3\r\nf7\\Body\r\n"},
        {u"Mid", "1.3\r\ngp38\\Cab\r\nx\r\n", "1.3\r\ngp38\\Cab\r\nx\r\n"},
        {u"old", "1.5\r\ngp38\\Cab\r\n", "1.5\r\ngp38\\Cab\r\n"},
        {u"alpha", "1.3\r\nsd40\\Roof\r\n", "1.3\r\nsd40\\Roof\r\n"},
        {u"a", "1.3\r\ngp38\\Body\r\nmine\r\n", kUpgradedA},
    };
    for (const Skin& skin : skins) prefix.Write(trains + skin.folder + u"/skin.dat", skin.before);
    prefix.MakeFolder(trains + u"empty");

    const Result result = RunProgram({"--console", "--yes", "--prefix", prefix.Prefix()}, "",
                                     prefix.Folder().Root().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output,
              "Scanning for Skins...\n4 Skins need to be updated.\n"
              "Scanning for Kuids...\nUpgrading Sp3 Skins...\n"
              "error: Could not find a kuid for sd40\n       alpha not upgraded.\n"
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
         {kHost, std::nullopt},
         u"",
         1,
         "error: Dyvenhall could not be found.  You may have to reinstall.\n"},
        {"nothing to update",
         {kHost, kPaint},
         u"",
         0,
         "Scanning for Skins...\n0 Skins need to be updated.\n"},
        {"empty skin.dat",
         {kHost, kPaint},
         u"GAMES/Korvash/World/Custom/Trains/x/skin.dat",
         1,
         "Scanning for Skins...\nerror: Could not read "
         "C:\\Games\\Korvash\\World\\Custom\\Trains\\x\\skin.dat: Reached the end of the "
         "file.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWinePrefix prefix(c.values);
        prefix.MakeFolder(u"GAMES/Korvash/World/Custom/Trains");
        if (!c.emptyDescriptor.empty()) prefix.Write(c.emptyDescriptor, "");
        const Result result = RunProgram({"--console", "--prefix", prefix.Prefix()}, "",
                                         prefix.Folder().Root().string());
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.output, c.output);
    }
}

TEST(LinuxProgram, FindsThePrefixInSteamLibraries) {
    namespace fs = std::filesystem;
    testing::TempFolder home;
    auto makePrefix = [&](const fs::path& at, bool korvash) {
        FakeWinePrefix made(korvash ? AppPaths{kHost, kPaint} : AppPaths{});
        if (korvash) MakeInstall(made);
        fs::create_directories(at.parent_path());
        fs::copy(made.Prefix(), at, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    };
    const fs::path root = home.Root();
    makePrefix(root / ".wine", false);  // a prefix without Korvash is passed over
    fs::create_directories(root / ".steam");
    fs::create_directory_symlink(root / ".local/share/Steam", root / ".steam/steam");
    home.Write(u".local/share/Steam/steamapps/libraryfolders.vdf",
               "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + root.string() +
                   "/.local/share/Steam\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + root.string() +
                   "/games/SteamLibrary\"\n\t\t\"label\"\t\t\"\"\n\t}\n}\n");
    makePrefix(root / "games/SteamLibrary/steamapps/compatdata/4242/pfx", true);
    // Korvash's 32-bit installer wrote its key into the 32-bit view.
    WriteSystemReg((root / "games/SteamLibrary/steamapps/compatdata/4242/pfx").string(),
                   AppPathsKey(kWow, "korvash.exe", kHost) +
                       AppPathsKey(kWow, "Korvash Dyvenhall.exe", kPaint));

    Result result = RunProgram({"--console", "--yes"}, "", root.string());
    const std::string found = (root / "games/SteamLibrary/steamapps/compatdata/4242/pfx").string();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.rfind("Using the Wine prefix " + found + "\n", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("information: Skins have been upgraded."), std::string::npos);

    // Flatpak Steam holds a second one: the player must choose.
    makePrefix(
        root / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7/pfx",
        true);
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
        FakeWinePrefix prefix({kHost, kPaint});
        MakeInstall(prefix);
        const Result result = RunProgram({"--yes", "--prefix", prefix.Prefix()}, "",
                                         prefix.Folder().Root().string(), c.env);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output,
                  c.note + "Scanning for Skins...\n2 Skins need to be updated.\n" + kRunOutput);
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
