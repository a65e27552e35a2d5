// The window's logic end to end on real installs in a Wine prefix layout,
// through the Linux file services and registry reader.
#include "app/main_form.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files_posix.h"
#include "platform/registry.h"
#include "tests/support/faulty_files.h"
#include "tests/support/front_install.h"
#include "tests/support/recording_view.h"
#include "tests/support/wine_prefix.h"

namespace dsu::app {
namespace {

using testing::AppPaths;
using testing::FakeWinePrefix;
using testing::RegText;
using Events = std::vector<std::string>;

const std::string kHost = RegText("C:\\Games\\Korvash\\");
const std::string kPaint = RegText("C:\\Games\\Dyvenhall");

struct Installs {
    explicit Installs(const AppPaths& values, const install::Tree& driveC = {})
        : prefix(values, driveC) {}
    FakeWinePrefix prefix;
    std::unique_ptr<platform::FileSystem> files = platform::MakePosixFileSystem(prefix.Prefix());
    std::unique_ptr<platform::Registry> registry = platform::MakeWineRegistry(prefix.Prefix());
    testing::RecordingView view;
};

TEST(MainForm, AMissingInstallEndsBeforeTheWindowIsShown) {
    struct Case {
        const char* name;
        AppPaths values;
        std::string message;
        bool claimed = false;  // another program works on the skins folder
    };
    const std::string trains = "error: Trains could not be found.  You may have to reinstall.";
    const std::string paint = "error: Dyvenhall could not be found.  You may have to reinstall.";
    const Case cases[] = {
        {"both missing", {}, trains},
        {"host missing", {std::nullopt, kPaint}, trains},
        {"painter missing", {kHost, std::nullopt}, paint},
        {"empty text", {kHost, "\"\""}, paint},
        {"expandable text", {"str(2):\"C:\\\\Games\\\\Korvash\"", kPaint}, trains},
        {"dword", {kHost, "dword:00000001"}, paint},
        {"another updater on these skins",
         {kHost, kPaint},
         "error: " + platform::ToUtf8(kAlreadyRunning),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Installs run(c.values);
        run.prefix.MakeFolder(u"Games/Korvash/World/Custom/Trains");
        // Reached under another letter case, as by another program.
        const auto other = platform::MakePosixFileSystem(run.prefix.Prefix());
        const auto claim =
            c.claimed ? other->ClaimFolder(u"c:\\games\\korvash\\world\\custom\\TRAINS") : nullptr;
        if (c.claimed) {
            ASSERT_NE(claim, nullptr);
        }
        frmMain form(*run.files, *run.registry, run.view);
        EXPECT_FALSE(form.Load());
        EXPECT_EQ(run.view.events, (Events{c.message, "close"}));
        EXPECT_FALSE(run.view.shown);
        EXPECT_NE(form.ExitCode(), 0);
    }
}

TEST(MainForm, SurveyCountsVersion13SkinsOnly) {
    Installs run({kHost, kPaint});
    const std::u16string trains = u"Games/Korvash/World/Custom/Trains/";
    run.prefix.Write(trains + u"a/skin.dat", "1.3\r\ngp38\\Body\r\n");
    run.prefix.Write(trains + u"b/skin.dat", "1.3");
    run.prefix.Write(trains + u"c/skin.dat", "1.5\r\ngp38\\Body\r\n");
    run.prefix.Write(trains + u"d/skin.dat", "1.3 \r\n");
    run.prefix.Write(trains + u"e/skin.dat", "1.3\nlf only\n");
    run.prefix.Write(trains + u"f/readme.txt", "no descriptor");
    run.prefix.MakeFolder(trains + u"g/skin.dat");
    run.prefix.Write(trains + u"loose/deeper/skin.dat", "1.3\r\n");
    run.prefix.Write(trains + u"skin.dat", "1.3\r\n");
    frmMain form(*run.files, *run.registry, run.view);
    EXPECT_TRUE(form.Load());
    EXPECT_EQ(run.view.events, (Events{"status: Scanning for Skins...", "show", "repaint",
                                       "status: 2 Skins need to be updated."}));
    EXPECT_TRUE(run.view.enabled);
    EXPECT_EQ(form.MainPath(), u"C:\\Games\\Korvash\\");
    EXPECT_EQ(form.PaintPath(), u"C:\\Games\\Dyvenhall\\");
}

TEST(MainForm, NothingToUpgradeDisablesTheButton) {
    Installs run({kHost, kPaint});
    run.prefix.MakeFolder(u"Games/Korvash/World/Custom/Trains");
    frmMain form(*run.files, *run.registry, run.view);
    EXPECT_TRUE(form.Load());
    EXPECT_EQ(run.view.events, (Events{"status: Scanning for Skins...", "show", "repaint",
                                       "status: 0 Skins need to be updated.", "disable"}));
    EXPECT_EQ(form.ExitCode(), 0);
}

TEST(MainForm, StartUpFailuresEndTheProgramWithOneMessage) {
    struct Case {
        const char* name;
        std::string hostValue;
        std::vector<std::u16string> files;  // written empty below the install, in this order
        std::string message;
    };
    // Many descriptors that fail, the first in listing order written first:
    // the system lists it anywhere among them, and it alone is reported.
    std::vector<std::u16string> manyEmpty = {u"World/Custom/Trains/B/skin.dat"};
    for (char16_t c = u'c'; c <= u'z'; ++c)
        manyEmpty.push_back(u"World/Custom/Trains/" + std::u16string(1, c) + u"/skin.dat");
    const Case cases[] = {
        {"no skins folder",
         kHost,
         {},
         "error: Could not list C:\\Games\\Korvash\\World\\Custom\\Trains: No such file or "
         "directory."},
        {"folders separated by ;",
         RegText("C:\\Games\\Korvash;D:\\Other"),
         {},
         "error: Could not list C:\\Games\\Korvash;D:\\Other\\World\\Custom\\Trains: No such file "
         "or directory."},
        {"empty skin.dat",
         kHost,
         {u"World/Custom/Trains/b/skin.dat"},
         "error: Could not read C:\\Games\\Korvash\\World\\Custom\\Trains\\b\\skin.dat: Reached "
         "the end of the file."},
        {"many empty skin.dat", kHost, manyEmpty,
         "error: Could not read C:\\Games\\Korvash\\World\\Custom\\Trains\\B\\skin.dat: Reached "
         "the end of the file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Installs run({c.hostValue, kPaint});
        if (!c.files.empty())
            run.prefix.Write(u"Games/Korvash/World/Custom/Trains/a/skin.dat", "1.3\r\n");
        for (const std::u16string& file : c.files) run.prefix.Write(u"Games/Korvash/" + file, "");
        frmMain form(*run.files, *run.registry, run.view);
        EXPECT_FALSE(form.Load());
        EXPECT_EQ(run.view.events,
                  (Events{"status: Scanning for Skins...", "show", "repaint", c.message, "close"}));
        EXPECT_NE(form.ExitCode(), 0);
    }
}

// An install of a few skins in the letter cases players' folders really have.
install::Tree FewSkins() {
    const std::string skins = "Games/Dyvenhall/skins/";
    const std::string downloads = "Games/Korvash/world/Dispatcher/DOWNLOADS/";
    const std::string trains = "Games/Korvash/world/Custom/trains/";
    return {
        {skins + "GP38/config.txt", "kuid <kuid:1:100>\r\n"},
        {skins + "GP38/body.tga", "body"},
        {skins + "GP38/textures/t.texture", "t"},
        {skins + "sd40/config.txt", "kuid <kuid:1:200>\r\n"},
        {downloads + "gp38_hi_dyn_body/config.txt", "x\r\n kuid <kuid:2:100> \r\n"},
        {downloads + "sd40_cab/config.txt", "kuid <kuid:2:200>\r\n"},
        // The same name under the skins root wins over this one.
        {downloads + "SD40/config.txt", "kuid <kuid:9:999>\r\n"},
        {trains + "A_first/skin.dat", "1.3\r\nGP38\\Body\r\nthird\r\n\r\n"},
        {trains + "b_missing/skin.dat", "1.3\r\nf7\\Body\r\n"},
        {trains + "C_new/skin.dat", "1.5\r\nsd40\\Cab\r\n"},
        {trains + "d_sd40/skin.dat", "1.3\r\nsd40\\Cab\r\nx"},
        {trains + "e_missing/skin.dat", "1.3\r\nsd40\\Roof\r\n"},
        {trains + "f_none/readme.txt", ""},
        // Names that an earlier root holds too: its kuid wins, downloads over
        // trains and the skins root over both.
        {trains + "SD40_CAB/config.txt", "kuid <kuid:3:998>\r\n"},
        {trains + "Sd40/config.txt", "kuid <kuid:3:999>\r\n"},
    };
}

TEST(MainForm, TheUpdateRunInItsOrder) {
    Installs run({kHost, kPaint}, FewSkins());
    frmMain form(*run.files, *run.registry, run.view);
    ASSERT_TRUE(form.Load());
    run.view.events.clear();

    EXPECT_TRUE(form.UpgradeSkins());
    EXPECT_EQ(run.view.events,
              (Events{"status: Scanning for Kuids...", "repaint", "status: Upgrading Sp3 Skins...",
                      "error: Could not find a kuid for f7\r\nb_missing not upgraded.",
                      "error: Could not find a kuid for sd40_Roof\r\ne_missing not upgraded.",
                      "status: Skins have been upgraded.", "information: Skins have been upgraded.",
                      "disable"}));
    EXPECT_FALSE(run.view.enabled);
    EXPECT_EQ(form.ExitCode(), 0);

    const std::u16string trains = u"Games/Korvash/world/Custom/trains/";
    EXPECT_EQ(run.prefix.Read(trains + u"A_first/skin.dat"),
              "1.5\r\n<kuid:2:100>\\<kuid:1:100>\r\nthird\r\n\r\n");
    EXPECT_EQ(run.prefix.Read(trains + u"b_missing/skin.dat"), "1.3\r\nf7\\Body\r\n");
    EXPECT_EQ(run.prefix.Read(trains + u"C_new/skin.dat"), "1.5\r\nsd40\\Cab\r\n");
    EXPECT_EQ(run.prefix.Read(trains + u"d_sd40/skin.dat"),
              "1.5\r\n<kuid:2:200>\\<kuid:1:200>\r\nx\r\n");
    EXPECT_EQ(run.prefix.Read(trains + u"e_missing/skin.dat"), "1.3\r\nsd40\\Roof\r\n");
    EXPECT_FALSE(run.prefix.Exists(trains + u"b_missing/skin.dat.tmp"));

    // The template copy, one level deep, under the name the references now use.
    EXPECT_EQ(run.prefix.Read(u"Games/Dyvenhall/skins/gp38_hi_dyn/body.tga"), "body");
    EXPECT_EQ(run.prefix.Read(u"Games/Dyvenhall/skins/gp38_hi_dyn/textures/t.texture"), "t");
    EXPECT_EQ(form.FolderKuids().Item(u"gp38_hi_dyn")->Kuid, u"<kuid:1:100>");
}

// What the front ends' tests take as given: the transcript of a whole run on
// their install, and where each event shows, repaints and disables.
TEST(MainForm, TheFrontEndsTranscript) {
    FakeWinePrefix prefix({RegText(testing::kFrontHost), RegText(testing::kFrontPaint)},
                          testing::FrontInstall());
    auto files = platform::MakePosixFileSystem(prefix.Prefix());
    auto registry = platform::MakeWineRegistry(prefix.Prefix());
    testing::RecordingView view;
    frmMain form(*files, *registry, view);
    auto shown = [&view] {
        std::vector<testing::Shown> all;
        for (const std::string& e : view.events) {
            for (const auto& [start, kind] : {std::pair{"status: ", testing::Shown::Status},
                                              {"error: ", testing::Shown::Error},
                                              {"information: ", testing::Shown::Information}})
                if (e.rfind(start, 0) == 0)
                    all.push_back({kind, e.substr(std::string_view(start).size())});
        }
        view.events.clear();
        return all;
    };
    ASSERT_TRUE(form.Load());
    EXPECT_EQ(view.events, (Events{"status: Scanning for Skins...", "show", "repaint",
                                   "status: 2 Skins need to be updated."}));
    EXPECT_EQ(shown(), testing::FrontStartUp());
    EXPECT_TRUE(form.UpgradeSkins());
    EXPECT_EQ(view.events.back(), "disable");
    EXPECT_EQ(shown(), testing::FrontRun());
    EXPECT_EQ(prefix.Read(testing::kFrontTrains + std::u16string(u"a/skin.dat")),
              testing::kFrontUpgradedA);
}

// A failure ends the run with its message, a stop at the next skin with "The
// update was stopped."; the skins before stay upgraded. A stop that comes
// once the last skin is done stops nothing: the flushes all finish, the run
// is told as done, and the program ends.
TEST(MainForm, AFailureOrAStopEndsTheRunWithOneMessage) {
    const std::string failure =
        "error: Could not complete C:\\Games\\Korvash\\World\\Custom\\"
        "Trains\\d_sd40\\skin.dat: Injected failure.";
    const std::string bMissing = "error: Could not find a kuid for f7\r\nb_missing not upgraded.";
    const std::string eMissing =
        "error: Could not find a kuid for sd40_Roof\r\ne_missing not upgraded.";
    struct Case {
        const char* name;
        testing::Op op;
        int nth;  // that call of op fails, or a stop is asked at it
        bool stop;
        Events end;  // after "Upgrading Sp3 Skins..."
        int status;
        bool dUpgraded;  // d_sd40, after A_first
    };
    const Case cases[] = {
        {"a failed replace",
         testing::Op::ReplaceFile,
         2,
         false,
         {bMissing, failure, "close"},
         1,
         false},
        {"a stop at a skin",
         testing::Op::ReplaceFile,
         1,
         true,
         {"error: The update was stopped.", "close"},
         1,
         false},
        {"a stop in the final flush",
         testing::Op::FlushReplace,
         1,
         true,
         {bMissing, eMissing, "status: Skins have been upgraded.", "close"},
         0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Installs run({kHost, kPaint}, FewSkins());
        testing::FaultyFileSystem faulty(*run.files);
        std::atomic<int> calls = 0, flushes = 0;
        if (c.stop) {
            // On the thread that makes the call: a pool's, for a flush.
            faulty.OnCall([&](const testing::Call& call) {
                if (call.op == testing::Op::FlushReplace) ++flushes;
                if (call.op == c.op && ++calls == c.nth) RequestStop();
            });
        } else {
            faulty.FailNth(c.op, c.nth);
        }
        frmMain form(faulty, *run.registry, run.view);
        ASSERT_TRUE(form.Load());
        run.view.events.clear();

        EXPECT_FALSE(form.UpgradeSkins());
        Events events = {"status: Scanning for Kuids...", "repaint",
                         "status: Upgrading Sp3 Skins..."};
        events.insert(events.end(), c.end.begin(), c.end.end());
        EXPECT_EQ(run.view.events, events);
        EXPECT_EQ(form.ExitCode(), c.status);
        const std::u16string trains = u"Games/Korvash/world/Custom/trains/";
        EXPECT_EQ(run.prefix.Read(trains + u"A_first/skin.dat"),
                  "1.5\r\n<kuid:2:100>\\<kuid:1:100>\r\nthird\r\n\r\n");
        EXPECT_EQ(
            run.prefix.Read(trains + u"d_sd40/skin.dat"),
            c.dUpgraded ? "1.5\r\n<kuid:2:200>\\<kuid:1:200>\r\nx\r\n" : "1.3\r\nsd40\\Cab\r\nx");
        EXPECT_FALSE(run.prefix.Exists(trains + u"d_sd40/skin.dat.tmp"));
        // Every replace made is flushed, stop or not.
        if (c.stop) {
            EXPECT_EQ(flushes.load(), c.dUpgraded ? 2 : 1);
        }
        // Once ended, nothing more runs.
        EXPECT_FALSE(form.UpgradeSkins());
    }
}

// Counts and listing positions are not 16-bit here: the folders past 32,767
// are counted, scanned and upgraded like the first. (Native only, as the
// whole file: making 32,800 folders under Wine takes longer than the suite.)
TEST(MainForm, SurveyAndRunPassThe16BitLimit) {
    Installs run({kHost, kPaint});
    constexpr int kFolders = 32800;
    const auto trains = run.prefix.Folder().Root() / "drive_c/Games/Korvash/World/Custom/Trains";
    for (int i = 0; i < kFolders; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%05d", i);
        std::filesystem::create_directories(trains / name);
    }
    const std::u16string skins = u"Games/Korvash/World/Custom/Trains/";
    run.prefix.Write(skins + u"s00000/skin.dat", "1.3\r\nx\\y\r\n");
    run.prefix.Write(skins + u"s32799/skin.dat", "1.3\r\nx\\y\r\n");
    run.prefix.Write(skins + u"s32790/config.txt", "kuid <kuid:late:1>\r\n");
    run.prefix.Write(u"Games/Korvash/World/dispatcher/downloads/x_y/config.txt",
                     "kuid <kuid:7:1>\r\n");
    run.prefix.Write(u"Games/Korvash/World/dispatcher/downloads/x/config.txt",
                     "kuid <kuid:7:2>\r\n");

    frmMain form(*run.files, *run.registry, run.view);
    ASSERT_TRUE(form.Load());
    EXPECT_EQ(run.view.events.back(), "status: 2 Skins need to be updated.");
    EXPECT_TRUE(form.UpgradeSkins());
    EXPECT_EQ(form.FolderKuids().Item(u"s32790")->Kuid, u"<kuid:late:1>");
    EXPECT_EQ(run.prefix.Read(skins + u"s00000/skin.dat"), "1.5\r\n<kuid:7:1>\\<kuid:7:2>\r\n");
    EXPECT_EQ(run.prefix.Read(skins + u"s32799/skin.dat"), "1.5\r\n<kuid:7:1>\\<kuid:7:2>\r\n");
}

}  // namespace
}  // namespace dsu::app
