// Hostile inputs: odd bytes, odd names, odd files and odd registry values.
// Each must leave the installs whole and end in the normal behaviour or in a
// message that names what is wrong. Cases marked "Linux" need the host's
// names or links; the others run natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/main_form.h"
#include "platform/text.h"
#include "tests/reliability/install.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_folder.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files_posix.h"
#include "platform/registry.h"
#include "tests/support/wine_prefix.h"
#endif

namespace dsu::testing {
namespace {

namespace fs = std::filesystem;
using Messages = std::vector<std::string>;

const std::string kKuids = "<kuid2:30501:1000:1>\\<kuid:30501:100>";
const std::string kNew = "1.5\r\n" + kKuids + "\r\n";
const std::string kDone = "information: Skins have been upgraded.";
const std::u16string kTrains = u"Korvash/World/Custom/Trains/";
const std::u16string kDownloads = u"Korvash/World/dispatcher/downloads/";

std::string Config(const std::string& kuid) { return "name \"x\"\r\nkuid " + kuid + "\r\n"; }

// The least install: the template, the content folder that "gp38\Body"
// needs, and an empty Trains folder.
install::Tree LeastInstall() {
    return {{"Dyvenhall/Skins/gp38/config.txt", Config("<kuid:30501:100>")},
            {"Korvash/World/dispatcher/downloads/gp38_hi_dyn_Body/config.txt",
             Config("<kuid2:30501:1000:1>")},
            {"Korvash/World/Custom/Trains", std::nullopt}};
}

class HostileInstall {
  public:
    HostileInstall() : HostileInstall(u"") {}
    explicit HostileInstall(std::u16string_view below) : base_(below) {
        temp.MakeFolder(base_);
        WriteTree(LeastInstall(), temp.Host(base_));
    }
    std::u16string Rel(std::u16string_view rel) const { return base_ + std::u16string(rel); }
    void Write(std::u16string_view rel, std::string_view bytes) const {
        temp.Write(Rel(rel), bytes);
    }
    std::string Read(std::u16string_view rel) const { return temp.Read(Rel(rel)); }
    fs::path Host(std::u16string_view rel) const { return temp.Host(Rel(rel)); }
    void Skin(std::u16string_view name, std::string_view bytes) const {
        Write(kTrains + std::u16string(name) + u"/skin.dat", bytes);
    }
    std::string SkinNow(std::u16string_view name) const {
        return Read(kTrains + std::u16string(name) + u"/skin.dat");
    }
    RunOutcome Update() {
        auto files = SystemFiles();
        return RunUpdate(*files, temp.Path(base_.empty() ? u"" : UnResolved(base_)));
    }
    static std::u16string UnResolved(std::u16string text) {
        if (!text.empty() && text.back() == u'/') text.pop_back();
        return text;
    }

    TempFolder temp;
    std::u16string base_;
};

class Hostile : public ::testing::Test, public HostileInstall {};

// skin.dat contents: each upgraded byte for byte, or left as it was.
TEST_F(Hostile, OddDescriptors) {
    struct Case {
        const char* kind;
        std::string in;
        std::string out;      // empty: left as it was
        std::string message;  // the start of the one message ahead of kDone; empty: none
    };
    const std::string undefined = "\x81\x8d\x8f\x90\x9d";
    const std::string bigLine(8 << 20, 'q');
    const Case cases[] = {
        {"NUL bytes in lines 3 and later", std::string("1.3\r\ngp38\\Body\r\na\0b\r\n\0\r\n", 23),
         kNew + std::string("a\0b\r\n\0\r\n", 8), ""},
        {"a NUL byte in the reference", std::string("1.3\r\ngp38\0\\Body\r\n", 17), "",
         "error: Could not find a kuid for gp38"},
        {"a NUL byte in the version line", std::string("1.3\0\r\ngp38\\Body\r\n", 17), "", ""},
        {"CR alone ends every line", "1.3\rgp38\\Body\rx\r", kNew + "x\r\n", ""},
        {"LF alone ends every line", "1.3\ngp38\\Body\nx\n", "", ""},
        {"nothing but CRs", "\r\r\r\r", "", ""},
        {"nothing but LFs", "\n\n\n", "", ""},
        {"the version, then only CRs", "1.3\r\r\r", "",
         "error: Could not find a kuid for \r\nskin not upgraded."},
        {"bytes the code page does not define", "1.3\r\ngp38\\Body\r\n" + undefined + "\xff\r\n",
         kNew + undefined + "\xff\r\n", ""},
        {"undefined bytes in the reference", "1.3\r\ngp38\\B\x81ody\r\n", "",
         "error: Could not find a kuid for gp38_hi_dyn_B\xc2\x81ody"},
        {"a byte-order mark ahead of the version",
         "\xef\xbb\xbf"
         "1.3\r\ngp38\\Body\r\n",
         "", ""},
        {"a line 3 of 8 MB without an end", "1.3\r\ngp38\\Body\r\n" + bigLine,
         kNew + bigLine + "\r\n", ""},
        {"the version line alone", "1.3", "", ""},
        {"a first line of 1 MiB", "1.3" + std::string(1 << 20, ' ') + "\r\ngp38\\Body\r\n", "", ""},
        {"a reference of 1 MiB, cut where it is held", "1.3\r\ngp38\\" + bigLine + "\r\nx\r\n", "",
         "error: Could not find a kuid for gp38_hi_dyn_qqqq"},
        {"a reference without a backslash", "1.3\r\ngp38\r\n", "",
         "error: Could not find a kuid for \r\nskin not upgraded."},
        {"a reference to a template part nobody has", "1.3\r\ngp38\\Wings\r\n", "",
         "error: Could not find a kuid for gp38_hi_dyn_Wings\r\nskin not upgraded."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        HostileInstall install;
        install.Skin(u"skin", c.in);
        const RunOutcome run = install.Update();
        EXPECT_EQ(install.SkinNow(u"skin"), c.out.empty() ? c.in : c.out);
        EXPECT_FALSE(install.temp.Exists(install.Rel(kTrains + u"skin/skin.dat.tmp")));
        ASSERT_EQ(run.messages.size(), c.message.empty() ? 1u : 2u) << Describe(run.messages);
        if (!c.message.empty()) {
            EXPECT_TRUE(run.messages[0].starts_with(c.message)) << run.messages[0];
        }
        EXPECT_EQ(run.messages.back(), kDone);
    }
}

// An empty skin.dat cannot be read at all: start-up ends with one message
// that names it, before anything is changed.
TEST_F(Hostile, AnEmptyDescriptorEndsStartUp) {
    Skin(u"empty", "");
    Skin(u"fine", "1.3\r\ngp38\\Body\r\n");
    const RunOutcome run = Update();
    EXPECT_FALSE(run.loaded);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_TRUE(run.messages[0].starts_with("error: Could not read ")) << run.messages[0];
    EXPECT_NE(run.messages[0].find("empty\\skin.dat: Reached the end of the file."),
              std::string::npos)
        << run.messages[0];
    EXPECT_EQ(SkinNow(u"fine"), "1.3\r\ngp38\\Body\r\n");
}

// config.txt contents of the content folder that "gp38\Body" needs.
TEST_F(Hostile, OddConfigFiles) {
    struct Case {
        const char* kind;
        std::string config;
        std::string line2;  // skin.dat's second line after the run; empty: not upgraded
    };
    const std::string kuid = "kuid <kuid2:30501:1000:1>";
    const Case cases[] = {
        {"NUL bytes ahead of the kuid line", std::string("\0\0\r\n", 4) + kuid + "\r\n", kKuids},
        {"NUL bytes in the kuid", "kuid <kuid2:30501:1000:1" + std::string("\0>", 2),
         "<kuid2:30501:1000:1" + std::string("\0>", 2) + "\\<kuid:30501:100>"},
        {"LF alone ends every line", "name\n" + kuid + "\n", ""},
        {"CR alone ends every line", "name\r" + kuid + "\r", kKuids},
        {"a kuid text of more than 64 KiB", kuid + std::string(70000, 'x') + "\r\n", ""},
        {"70,000 spaces around the kuid line",
         std::string(70000, ' ') + kuid + std::string(70000, ' ') + "\r\n", kKuids},
        {"a 2 MB line ahead of the kuid line", std::string(2 << 20, 'x') + "\r\n" + kuid, kKuids},
        {"bytes the code page does not define in the kuid", "kuid <kuid2:30501:1000:1\x81\x9d>",
         "<kuid2:30501:1000:1\x81\x9d>\\<kuid:30501:100>"},
        {"a tab ahead of the kuid line", "\t" + kuid, ""},
        {"a kuid line without a kuid ends the search", "kuid\r\n" + kuid, ""},
        {"nothing but a kuid line's start", "KUID", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        HostileInstall install;
        install.Write(kDownloads + u"gp38_hi_dyn_Body/config.txt", c.config);
        install.Skin(u"skin", "1.3\r\ngp38\\Body\r\n");
        const RunOutcome run = install.Update();
        if (c.line2.empty()) {
            EXPECT_EQ(install.SkinNow(u"skin"), "1.3\r\ngp38\\Body\r\n");
            EXPECT_EQ(run.messages,
                      (Messages{"error: Could not find a kuid for gp38_hi_dyn_Body\r\nskin not "
                                "upgraded.",
                                kDone}));
        } else {
            EXPECT_EQ(install.SkinNow(u"skin"), "1.5\r\n" + c.line2 + "\r\n");
            EXPECT_EQ(run.messages, Messages{kDone});
        }
    }
}

#ifndef _WIN32
std::size_t PeakMemory() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
    return 0;
}
#endif

// A config.txt of 300 MB without a line end, as a sparse file: the scan
// passes over it holding at most 64 KiB of it, and the other folders count.
TEST_F(Hostile, AConfigFileOfHundredsOfMegabytesWithoutALineEnd) {
    const fs::path huge = Host(kDownloads + u"huge/config.txt");
    fs::create_directories(huge.parent_path());
    WriteBytes(huge, "kuid <kuid:9:9>");
    {
        // Grown by a write of its last byte: resize_file of the Windows
        // runtime first asks every volume for its free space, which under
        // Wine now and then fails with "File too large".
        std::ofstream out(huge, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp((std::streamoff{300} << 20) - 1);
        out.put('\0');
        ASSERT_TRUE(out.flush());
    }
    Skin(u"skin", "1.3\r\ngp38\\Body\r\n");
#ifndef _WIN32
    const std::size_t peak = PeakMemory();
#endif
    const RunOutcome run = Update();
#ifndef _WIN32
    EXPECT_LT(PeakMemory() - peak, std::size_t{64} << 20);
#endif
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(SkinNow(u"skin"), kNew);
    EXPECT_EQ(fs::file_size(huge), std::uintmax_t{300} << 20);
}

TEST_F(Hostile, FoldersNamedLikeTheFilesAreFolders) {
    temp.MakeFolder(Rel(kTrains + u"folder/skin.dat"));
    temp.MakeFolder(Rel(kDownloads + u"content/config.txt"));
    Skin(u"skin", "1.3\r\ngp38\\Body\r\n");
    const RunOutcome run = Update();
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(SkinNow(u"skin"), kNew);
    EXPECT_TRUE(fs::is_directory(Host(kTrains + u"folder/skin.dat")));
}

// Whatever lies at skin.dat.tmp is only ever removed as a name at that skin's
// turn, never written through and never opened: a folder or a FIFO there ends
// the run with one message that names it, and skin.dat is as it was. A later
// skin's stale skin.dat.tmp is byte for byte as it was when the run ends
// before that skin's turn.
TEST_F(Hostile, WhatLiesInThePlaceOfTheTemporary) {
    struct Case {
        const char* kind;
        std::function<void(const HostileInstall&)> make;  // at skin "b"
        bool ends;
    };
    const Case cases[] = {
        {"an old temporary",
         [](const HostileInstall& i) { i.Write(kTrains + u"b/skin.dat.tmp", "half of it"); },
         false},
        {"a folder",
         [](const HostileInstall& i) { i.temp.MakeFolder(i.Rel(kTrains + u"b/skin.dat.tmp")); },
         true},
#ifndef _WIN32
        {"Linux: a FIFO",
         [](const HostileInstall& i) {
             ASSERT_EQ(::mkfifo(i.Host(kTrains + u"b/skin.dat.tmp").c_str(), 0666), 0);
         },
         true},
        {"Linux: a link to a file outside",
         [](const HostileInstall& i) {
             i.Write(u"outside.dat", "the player's");
             fs::create_symlink(i.Host(u"outside.dat"), i.Host(kTrains + u"b/skin.dat.tmp"));
         },
         false},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        HostileInstall install;
        for (const char16_t* skin : {u"a", u"b", u"c", u"d"})
            install.Skin(skin, "1.3\r\ngp38\\Body\r\n");
        install.Write(kTrains + u"c/skin.dat.tmp", "stale, of a later skin");
        c.make(install);
        const RunOutcome run = install.Update();
        EXPECT_EQ(run.finished, !c.ends);
        EXPECT_EQ(install.SkinNow(u"a"), kNew);
        if (c.ends) {
            ASSERT_EQ(run.messages.size(), 1u);
            EXPECT_TRUE(run.messages[0].starts_with("error: Could not create ")) << run.messages[0];
            EXPECT_NE(run.messages[0].find("b\\skin.dat.tmp: "), std::string::npos)
                << run.messages[0];
            for (const char16_t* skin : {u"b", u"c", u"d"})
                EXPECT_EQ(install.SkinNow(skin), "1.3\r\ngp38\\Body\r\n");
            EXPECT_EQ(install.Read(kTrains + u"c/skin.dat.tmp"), "stale, of a later skin");
        } else {
            EXPECT_EQ(run.messages, Messages{kDone});
            for (const char16_t* skin : {u"b", u"c", u"d"}) {
                EXPECT_EQ(install.SkinNow(skin), kNew);
                EXPECT_FALSE(fs::exists(fs::symlink_status(
                    install.Host(kTrains + std::u16string(skin) + u"/skin.dat.tmp"))));
            }
            if (fs::exists(install.Host(u"outside.dat"))) {
                EXPECT_EQ(install.Read(u"outside.dat"), "the player's");
            }
        }
    }
}

TEST_F(Hostile, NamesOutsideTheBasicMultilingualPlane) {
    Skin(u"skin_\U0001F682", "1.3\r\ngp38\\Body\r\n");
    Skin(u"\U0001F683", "1.3\r\ngp38\\Roof\r\n");
    Write(kDownloads + u"\U0001F684/config.txt", Config("<kuid:7:7>"));
    const RunOutcome run = Update();
    EXPECT_EQ(SkinNow(u"skin_\U0001F682"), kNew);
    EXPECT_EQ(SkinNow(u"\U0001F683"), "1.3\r\ngp38\\Roof\r\n");
    EXPECT_EQ(run.messages, (Messages{"error: Could not find a kuid for gp38_hi_dyn_Roof\r\n"
                                      "\xF0\x9F\x9A\x83 not upgraded.",
                                      kDone}));
}

// Deep below the temporary folder every path of the run is longer than the
// 260 characters of the classic Windows limit.
class HostileDeep : public ::testing::Test, public HostileInstall {
  protected:
    HostileDeep()
        : HostileInstall(std::u16string(3, u'd') + u"/" + std::u16string(120, u'p') + u"/" +
                         std::u16string(120, u'q') + u"/") {}
};

TEST_F(HostileDeep, PathsLongerThan260Characters) {
    Skin(std::u16string(40, u's'), "1.3\r\ngp38\\Body\r\nx\r\n");
    ASSERT_GT(temp.Path(Rel(kTrains)).size(), 260u);
    const RunOutcome run = Update();
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(SkinNow(std::u16string(40, u's')), kNew + "x\r\n");
    EXPECT_EQ(Read(u"Dyvenhall/Skins/gp38_hi_dyn/config.txt"), Config("<kuid:30501:100>"));
}

// A read-only file is never replaced, as Windows' MoveFileExW refuses to:
// a read-only skin.dat ends the run with the replace's message and stays as
// it was, read-only, and so do the later skins; a read-only file in
// gp38_hi_dyn is skipped by the template copy, which copies the rest. Wine
// shows a file that nobody may write as read-only, and its rename would
// replace one.
TEST_F(Hostile, ReadOnlyFilesAreNotReplaced) {
    struct Case {
        const char* kind;
        std::u16string readOnly;
        bool ends;
    };
    const Case cases[] = {
        {"skin.dat", kTrains + u"a/skin.dat", true},
        {"a file of gp38_hi_dyn", u"Dyvenhall/Skins/gp38_hi_dyn/body.tga", false},
    };
#ifdef _WIN32
    const std::string denied = platform::ToUtf8(platform::SystemErrorText(ERROR_ACCESS_DENIED));
#else
    const std::string denied = "Access is denied.";
#endif
    const std::string old = "1.3\r\ngp38\\Body\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        HostileInstall install;
        install.Write(u"Dyvenhall/Skins/gp38/body.tga", "new body");
        install.Write(u"Dyvenhall/Skins/gp38/cab.tga", "cab");
        install.Write(u"Dyvenhall/Skins/gp38_hi_dyn/body.tga", "old body");
        install.Skin(u"a", old);
        install.Skin(u"b", old);
        const fs::path readOnly = install.Host(c.readOnly);
        const std::string before = install.Read(c.readOnly);
        const fs::perms writable =
            fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        fs::permissions(readOnly, writable, fs::perm_options::remove);
        const RunOutcome run = install.Update();
        const fs::perms mode = fs::status(readOnly).permissions();
        fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(install.Read(c.readOnly), before);
        EXPECT_EQ(mode & writable, fs::perms::none);
        EXPECT_EQ(run.finished, !c.ends);
        if (c.ends) {
            EXPECT_EQ(run.messages,
                      Messages{"error: Could not replace " +
                               platform::ToUtf8(install.temp.Path(c.readOnly)) + ": " + denied});
            EXPECT_FALSE(install.temp.Exists(kTrains + u"a/skin.dat.tmp"));
            EXPECT_EQ(install.SkinNow(u"b"), old);
        } else {
            EXPECT_EQ(run.messages, Messages{kDone});
            EXPECT_EQ(install.Read(u"Dyvenhall/Skins/gp38_hi_dyn/cab.tga"), "cab");
            EXPECT_EQ(install.Read(u"Dyvenhall/Skins/gp38_hi_dyn/config.txt"),
                      Config("<kuid:30501:100>"));
            for (const auto& entry :
                 fs::directory_iterator(install.Host(u"Dyvenhall/Skins/gp38_hi_dyn")))
                EXPECT_EQ(entry.path().filename().string().find(".dsu."), std::string::npos);
            EXPECT_EQ(install.SkinNow(u"a"), kNew);
            EXPECT_EQ(install.SkinNow(u"b"), kNew);
        }
    }
}

#ifndef _WIN32
// Linux: a name that is not UTF-8 comes through as it is.
TEST_F(Hostile, LinuxNamesThatAreNotUtf8) {
    const fs::path folder = Host(kTrains) / "skin_\xff\xfe";
    fs::create_directories(folder);
    WriteBytes(folder / "skin.dat", "1.3\r\ngp38\\Body\r\n");
    const RunOutcome run = Update();
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(ReadBytes(folder / "skin.dat"), kNew);
}

// Linux: names that differ in letter case alone are separate skins. A
// descriptor is found under any letter case, the first in listing order when
// several match; a link named exactly skin.dat that leads nowhere hides the
// others, as the name then exists.
TEST_F(Hostile, LinuxNamesThatDifferInCaseAlone) {
    Skin(u"Alpha", "1.3\r\ngp38\\Body\r\nupper\r\n");
    Skin(u"alpha", "1.3\r\ngp38\\Body\r\nlower\r\n");
    Write(kTrains + u"capitals/SKIN.DAT", "1.3\r\ngp38\\Body\r\ncapitals\r\n");
    Write(kTrains + u"two/Skin.dat", "1.3\r\ngp38\\Body\r\nsecond\r\n");
    Write(kTrains + u"two/SKIN.DAT", "1.3\r\ngp38\\Body\r\nfirst\r\n");
    Write(kTrains + u"dangling/SKIN.DAT", "1.3\r\ngp38\\Body\r\nhidden\r\n");
    fs::create_symlink("nowhere", Host(kTrains + u"dangling/skin.dat"));
    const RunOutcome run = Update();
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(SkinNow(u"Alpha"), kNew + "upper\r\n");
    EXPECT_EQ(SkinNow(u"alpha"), kNew + "lower\r\n");
    EXPECT_EQ(Read(kTrains + u"capitals/SKIN.DAT"), kNew + "capitals\r\n");
    EXPECT_EQ(Read(kTrains + u"two/SKIN.DAT"), kNew + "first\r\n");
    EXPECT_EQ(Read(kTrains + u"two/Skin.dat"), "1.3\r\ngp38\\Body\r\nsecond\r\n");
    EXPECT_EQ(Read(kTrains + u"dangling/SKIN.DAT"), "1.3\r\ngp38\\Body\r\nhidden\r\n");
    EXPECT_TRUE(fs::is_symlink(Host(kTrains + u"dangling/skin.dat")));
    for (auto folder : {u"capitals/", u"two/"})
        EXPECT_FALSE(fs::exists(Host(kTrains + folder + u"skin.dat")));
}

// Linux: link loops are passed over; a link to a parent is listed but only
// one level is ever walked.
TEST_F(Hostile, LinuxLinkLoops) {
    fs::create_symlink("loop2", Host(kTrains + u"loop1"));
    fs::create_symlink("loop1", Host(kTrains + u"loop2"));
    fs::create_directory_symlink("..", Host(kTrains + u"up"));
    fs::create_symlink("self", Host(kDownloads + u"self"));
    Skin(u"skin", "1.3\r\ngp38\\Body\r\n");
    const DiskTree before = ReadTree(temp.Root());
    const RunOutcome run = Update();
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(SkinNow(u"skin"), kNew);
    const DiskTree after = ReadTree(temp.Root());
    for (const char* link : {"Korvash/World/Custom/Trains/loop1", "Korvash/World/Custom/Trains/up",
                             "Korvash/World/dispatcher/downloads/self"})
        EXPECT_EQ(after.at(link), before.at(link));
}

// Linux: a skin folder that is a link is a skin like any other and is
// upgraded where the link leads. A skin.dat that is a link is replaced by
// the upgraded file; the file it led to is left as it was.
TEST_F(Hostile, LinuxLinksLeadingOutOfTheInstall) {
    TempFolder outside;
    outside.Write(u"skin/skin.dat", "1.3\r\ngp38\\Body\r\nout\r\n");
    outside.Write(u"other.dat", "1.3\r\ngp38\\Body\r\nlinked\r\n");
    fs::create_directory_symlink(outside.Host(u"skin"), Host(kTrains + u"linked_folder"));
    fs::create_directories(Host(kTrains + u"linked_file"));
    fs::create_symlink(outside.Host(u"other.dat"), Host(kTrains + u"linked_file/skin.dat"));
    // Two names for one folder: upgraded once, as one skin at a time would.
    Skin(u"target", "1.3\r\ngp38\\Body\r\n");
    fs::create_directory_symlink("target", Host(kTrains + u"alias"));
    // A name Windows cannot hold is no folder of the install, and no path.
    const std::string victim = "1.3\r\ngp38\\Body\r\nvictim\r\n";
    Write(u"Korvash/World/Custom/evil/skin.dat", victim);
    fs::create_directories(Host(kTrains) / "..\\evil");
    WriteBytes(Host(kTrains) / "..\\evil" / "skin.dat", victim);
    const RunOutcome run = Update();
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(SkinNow(u"target"), kNew);
    EXPECT_EQ(Read(u"Korvash/World/Custom/evil/skin.dat"), victim);
    EXPECT_EQ(ReadBytes(Host(kTrains) / "..\\evil" / "skin.dat"), victim);
    EXPECT_TRUE(fs::is_symlink(Host(kTrains + u"linked_folder")));
    EXPECT_EQ(outside.Read(u"skin/skin.dat"), kNew + "out\r\n");
    EXPECT_FALSE(fs::is_symlink(Host(kTrains + u"linked_file/skin.dat")));
    EXPECT_EQ(SkinNow(u"linked_file"), kNew + "linked\r\n");
    EXPECT_EQ(outside.Read(u"other.dat"), "1.3\r\ngp38\\Body\r\nlinked\r\n");
}

// Linux: a FIFO or a device where a file is expected is no file: opening a
// FIFO would wait for a writer, reading it would take its data, and a device
// could be read without end.
TEST_F(Hostile, LinuxFifosAndDevicesInThePlaceOfFiles) {
    fs::create_directories(Host(kTrains + u"fifo"));
    ASSERT_EQ(::mkfifo(Host(kTrains + u"fifo/skin.dat").c_str(), 0666), 0);
    fs::create_directories(Host(kTrains + u"written_fifo"));
    const std::string fifo = Host(kTrains + u"written_fifo/skin.dat");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const std::string waiting = "1.3\r\ngp38\\Body\r\n";
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // a live writer
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, waiting.data(), waiting.size()),
              static_cast<ssize_t>(waiting.size()));
    fs::create_directories(Host(kTrains + u"null"));
    fs::create_symlink("/dev/null", Host(kTrains + u"null/skin.dat"));
    fs::create_directories(Host(kDownloads + u"zero"));
    fs::create_symlink("/dev/zero", Host(kDownloads + u"zero/config.txt"));
    fs::create_directories(Host(kDownloads + u"pipe"));
    ASSERT_EQ(::mkfifo(Host(kDownloads + u"pipe/config.txt").c_str(), 0666), 0);
    ASSERT_EQ(::mkfifo(Host(u"Dyvenhall/Skins/gp38/pipe.tga").c_str(), 0666), 0);
    // A copy's target is replaced as a name, never opened.
    fs::create_directories(Host(u"Dyvenhall/Skins/gp38_hi_dyn"));
    ASSERT_EQ(::mkfifo(Host(u"Dyvenhall/Skins/gp38_hi_dyn/config.txt").c_str(), 0666), 0);
    Skin(u"skin", "1.3\r\ngp38\\Body\r\n");
    const RunOutcome run = Update();
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(
        std::count(run.events.begin(), run.events.end(), "status: 1 Skins need to be updated."), 1);
    EXPECT_EQ(SkinNow(u"skin"), kNew);
    EXPECT_FALSE(fs::exists(Host(u"Dyvenhall/Skins/gp38_hi_dyn/pipe.tga")));
    EXPECT_TRUE(fs::is_regular_file(Host(u"Dyvenhall/Skins/gp38_hi_dyn/config.txt")));
    std::string left(64, '\0');
    left.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(writer, left.data(), 64))));
    ::close(writer);
    EXPECT_EQ(left, waiting);
}

// The registry values of the two installs, as Wine's system.reg holds them.
TEST(HostileRegistry, OddValues) {
    struct Case {
        const char* kind;
        std::string value;    // "Path" of korvash.exe in system.reg's form
        std::string message;  // the start of the one message; empty: the normal start-up
    };
    const std::string trains = "error: Trains could not be found.  You may have to reinstall.";
    const Case cases[] = {
        {"text", RegText("C:\\Games\\Korvash"), ""},
        {"expandable text", "str(2):\"C:\\\\Games\\\\Korvash\"", trains},
        {"several texts", "str(7):\"C:\\\\Games\\\\Korvash\\0\"", trains},
        {"a number", "dword:00000001", trains},
        {"no type", "hex(0):43,00,3a,00,00,00", trains},
        {"a 64-bit number", "hex(b):01,00,00,00,00,00,00,00", trains},
        {"a link", "hex(6):43,00,3a,00", trains},
        {"an unknown type", "hex(ffff):43,00,00,00", trains},
        {"text without its NUL", "hex(1):43,00,3a,00", trains},
        {"text of an odd size", "hex(1):43,00,3a,00,5c", trains},
        {"text of one byte", "hex(1):43", trains},
        {"empty text", "\"\"", trains},
        {"bytes: 1", "hex:05", "error: Could not list 5\\World\\Custom\\Trains: "},
        {"bytes: 0", "hex:", "error: Could not list 0\\World\\Custom\\Trains: "},
        {"bytes: -1", "hex:ff,ff,ff", "error: Could not list -1\\World\\Custom\\Trains: "},
        {"a file's path", RegText("C:\\Games\\Korvash\\korvash.exe"),
         "error: Could not list C:\\Games\\Korvash\\korvash.exe\\World\\Custom\\Trains: "},
        {"several folders", RegText("C:\\Games\\Korvash;C:\\Games\\Other"),
         "error: Could not list C:\\Games\\Korvash;C:\\Games\\Other\\World\\Custom\\Trains: "},
        {"a path on a drive that is not there", RegText("Q:\\Korvash"),
         "error: Could not list Q:\\Korvash\\World\\Custom\\Trains: "},
        // As Windows: ".." stops at the drive's root.
        {"climbing above the drive's root", RegText("C:\\..\\..\\Games\\Korvash"), ""},
        {"climbing above the root from a folder", RegText("C:\\Games\\..\\..\\..\\Games\\Korvash"),
         ""},
        // The program has no current folder of its own: C:\ stands for it.
        {"no drive letter", RegText("\\Games\\Korvash"), ""},
        {"neither a drive nor a root", RegText("Games\\.\\Korvash"), ""},
        {"a drive and no root", RegText("C:Games\\Korvash"), ""},
        {"no drive, climbing", RegText("..\\..\\Games\\Korvash"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        FakeWinePrefix prefix(
            {c.value, RegText("C:\\Games\\Dyvenhall")},
            {{"Games/Korvash/korvash.exe", "MZ"},
             {"Games/Korvash/World/Custom/Trains/skin/skin.dat", "1.3\r\ngp38\\Body\r\n"},
             {"Games/Dyvenhall/Skins", std::nullopt}});
        // Where a path above drive_c, or against the working folder, would
        // lead: an install whose survey fails.
        prefix.Folder().Write(u"Games/Korvash/World/Custom/Trains/outside/skin.dat", "");
        auto files = platform::MakePosixFileSystem(prefix.Prefix());
        auto registry = platform::MakeWineRegistry(prefix.Prefix());
        RecordingView view;
        app::frmMain form(*files, *registry, view);
        const bool loaded = form.Load();
        EXPECT_EQ(loaded, c.message.empty());
        if (c.message.empty()) {
            EXPECT_TRUE(view.Messages().empty());
        } else {
            ASSERT_EQ(view.Messages().size(), 1u);
            EXPECT_TRUE(view.Messages()[0].starts_with(c.message)) << view.Messages()[0];
            EXPECT_EQ(view.events.back(), "close");
        }
        EXPECT_EQ(prefix.Read(u"Games/Korvash/World/Custom/Trains/skin/skin.dat"),
                  "1.3\r\ngp38\\Body\r\n");
    }
}
#endif

}  // namespace
}  // namespace dsu::testing
