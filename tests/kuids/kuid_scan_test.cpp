#include "kuids/kuid_scan.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/text.h"
#include "tests/support/faulty_files.h"
#include "tests/support/temp_folder.h"

namespace dsu::kuids {
namespace {

using testing::FaultyFileSystem;
using testing::Op;
using testing::TempFolder;

TEST(KuidLine, TableOfLines) {
    struct Case {
        std::string line;
        bool isKuidLine;
        std::optional<std::string> kuid;
    };
    const Case cases[] = {
        {"kuid <kuid:1:2>", true, "<kuid:1:2>"},
        {"   kuid <kuid:1:2>   ", true, "<kuid:1:2>"},
        {"KUID <KUID:1:2>", true, "<KUID:1:2>"},
        {"Kuid2 <kuid2:1:2:3>", true, "<kuid2:1:2:3>"},
        {"kuidtable {", true, std::nullopt},
        {"kuid", true, std::nullopt},
        {"\tkuid <kuid:1:2>", false, std::nullopt},
        {"kui", false, std::nullopt},
        {"", false, std::nullopt},
        {"    ", false, std::nullopt},
        {"username kuid <kuid:1:2>", false, std::nullopt},
        {"kuid <a> <b>  ", true, "<a> <b>"},
        {"kuid <kuid:1:2>\t", true, "<kuid:1:2>\t"},
        {"kuid <", true, "<"},
        {"kuid no bracket", true, std::nullopt},
        {"kuid x<kuid:1:2", true, "<kuid:1:2"},
        {std::string("kuid <\0\xff>", 9), true, std::string("<\0\xff>", 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const KuidLine parsed = ParseKuidLine(c.line);
        EXPECT_EQ(parsed.isKuidLine, c.isKuidLine);
        ASSERT_EQ(parsed.kuid.has_value(), c.kuid.has_value());
        if (c.kuid) {
            EXPECT_EQ(*parsed.kuid, *c.kuid);
        }
    }
}

class Scan : public ::testing::Test {
  protected:
    TempFolder temp;
    std::unique_ptr<platform::FileSystem> fs = platform::MakeSystemFileSystem();
    colFolderKuids table;
    platform::WorkPool pool{platform::kReadThreads};

    std::u16string KuidOf(std::u16string_view key) {
        const FolderKuid record = table.Find(key);
        return record ? record->Kuid : u"(none)";
    }
};

TEST_F(Scan, ConfigFilesDecideTheRegistration) {
    struct Case {
        std::u16string folder;
        std::string config;
        std::u16string kuid;
    };
    const Case cases[] = {
        {u"plain", "username \"x\"\r\nkuid <kuid:1:2>\r\nkind x\r\n", u"<kuid:1:2>"},
        {u"lastNoEnd", "a\r\nb\r\n  kuid <kuid:1:3>", u"<kuid:1:3>"},
        {u"empty", "", u"(none)"},
        {u"noKuid", "username x\r\nkind y\r\n", u"(none)"},
        {u"tabSkipped", "\tkuid <kuid:9:9>\r\nkuid <kuid:1:4>\r\n", u"<kuid:1:4>"},
        {u"firstDecides", "kuid-list {\r\nkuid <kuid:1:5>\r\n", u"(none)"},
        {u"lfOnly", "a\nkuid <kuid:1:6>\n", u"(none)"},  // one line, not beginning "kuid"
        {u"upper", "KUID <KUID:1:7>\r\n", u"<KUID:1:7>"},
        {u"trailing", "kuid <kuid:1:8> <x>   \r\n", u"<kuid:1:8> <x>"},
        {u"cp1252", "kuid <kuid:\xe9\x80>\r\n", u"<kuid:\u00e9\u20ac>"},
    };
    for (const Case& c : cases) temp.Write(u"root/" + c.folder + u"/config.txt", c.config);
    temp.MakeFolder(u"root/noConfig");
    temp.MakeFolder(u"root/folderNamedConfig/config.txt");
    temp.Write(u"root/loose.txt", "kuid <kuid:0:0>\r\n");

    ScanFolderKuids(*fs, table, temp.Path(u"root"), pool);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder.begin(), c.folder.end()));
        EXPECT_EQ(KuidOf(c.folder), c.kuid);
    }
    EXPECT_EQ(table.Count(), 6u);
    EXPECT_EQ(table.Find(u"noConfig"), nullptr);
    EXPECT_EQ(table.Find(u"folderNamedConfig"), nullptr);
    EXPECT_EQ(table.Find(u"loose.txt"), nullptr);

    // The key is the folder's own name, spelt as listed; a second scan adds nothing.
    EXPECT_EQ(table.Item(u"PLAIN")->Key, u"plain");
    ScanFolderKuids(*fs, table, temp.Path(u"root"), pool);
    EXPECT_EQ(table.Count(), 6u);
}

TEST_F(Scan, MissingRootRegistersNothing) {
    ScanFolderKuids(*fs, table, temp.Path(u"missing"), pool);
    temp.Write(u"file", "");
    ScanFolderKuids(*fs, table, temp.Path(u"file"), pool);
    temp.MakeFolder(u"emptyRoot");
    ScanFolderKuids(*fs, table, temp.Path(u"emptyRoot"), pool);
    EXPECT_EQ(table.Count(), 0u);
}

TEST_F(Scan, TheFirstRootScannedWinsInAnyLetterCase) {
    temp.Write(u"skins/gp38/config.txt", "kuid <kuid:1:1>\r\n");
    temp.Write(u"downloads/GP38/config.txt", "kuid <kuid:2:2>\r\n");
    temp.Write(u"downloads/sd40/config.txt", "no kuid here\r\n");
    temp.Write(u"trains/Gp38/config.txt", "kuid <kuid:3:3>\r\n");
    temp.Write(u"trains/SD40/config.txt", "kuid <kuid:3:4>\r\n");
    for (auto root : {u"skins", u"downloads", u"trains"})
        ScanFolderKuids(*fs, table, temp.Path(root), pool);
    EXPECT_EQ(KuidOf(u"gp38"), u"<kuid:1:1>");
    EXPECT_EQ(table.Item(u"GP38")->Key, u"gp38");
    // A first folder without a kuid leaves the name to the next root.
    EXPECT_EQ(KuidOf(u"sd40"), u"<kuid:3:4>");
}

TEST_F(Scan, AFailedOpenOrReadSkipsOnlyThatFolder) {
    for (const char16_t* name : {u"a", u"b", u"c"})
        temp.Write(u"root/" + std::u16string(name) + u"/config.txt",
                   "x\r\nkuid <kuid:" + std::string(1, static_cast<char>(*name)) + ">\r\n");
    for (const Op op : {Op::OpenReader, Op::ReadLine}) {
        SCOPED_TRACE(testing::OpName(op));
        colFolderKuids fresh;
        FaultyFileSystem faulty(*fs);
        // Failed ahead of its turn, and again at its turn.
        faulty.FailOn(op, temp.Path(u"root\\b\\config.txt"), 1);
        ScanFolderKuids(faulty, fresh, temp.Path(u"root"), pool);
        EXPECT_TRUE(faulty.Failed());
        EXPECT_EQ(fresh.Count(), 2u);
        EXPECT_EQ(fresh.Item(u"a")->Kuid, u"<kuid:a>");
        EXPECT_EQ(fresh.Find(u"b"), nullptr);
        EXPECT_EQ(fresh.Item(u"c")->Kuid, u"<kuid:c>");
    }
}

TEST_F(Scan, AHugeLineIsNeverHeldWhole) {
    const std::string spaces(70000, ' ');
    struct Case {
        std::u16string folder;
        std::string config;
        std::u16string kuid;
    };
    const Case cases[] = {
        // 8 MiB without a line end ahead of the kuid line.
        {u"long", std::string(8 << 20, 'x') + "\rkuid <kuid:5:5>\r", u"<kuid:5:5>"},
        // A kuid text longer than the limit is no kuid, and ends the search.
        {u"longKuid", "kuid <" + std::string(1 << 20, 'k') + ">\r\nkuid <kuid:5:6>\r\n", u"(none)"},
        // Spaces around a line are trimmed before it is judged.
        {u"leading", spaces + "kuid <kuid:5:7>\r\nkuid <kuid:5:8>\r\n", u"<kuid:5:7>"},
        {u"trailing", "kuid <kuid:5:9>" + spaces + "\r\n", u"<kuid:5:9>"},
        // Spaces inside a kuid that straddle the end of the reader's block stay.
        {u"straddling", std::string(65500, 'x') + "\r\nkuid <a" + std::string(100, ' ') + "b>\r\n",
         u"<a" + std::u16string(100, u' ') + u"b>"},
    };
    for (const Case& c : cases) temp.Write(u"root/" + c.folder + u"/config.txt", c.config);
    ScanFolderKuids(*fs, table, temp.Path(u"root"), pool);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder.begin(), c.folder.end()));
        EXPECT_EQ(KuidOf(c.folder), c.kuid);
    }
}

// The reads finish in any order on a pool; the registrations keep the
// listing's order, which decides which of two names alike stays.
TEST_F(Scan, WithAPoolKuidsAreRegisteredInListingOrder) {
    constexpr int kFolders = 300;
    char name[16], kuid[32];
    for (int i = 0; i < kFolders; ++i) {
        std::snprintf(name, sizeof name, "f%d", 1000 + i);
        std::snprintf(kuid, sizeof kuid, "kuid <kuid:%d>\r\n", i);
        // Files of different sizes, so that the reads take different times.
        temp.Write(u"root/" + platform::FromAscii(name) + u"/config.txt",
                   std::string(static_cast<std::size_t>(i % 7) * 4000, ' ') + "\r\n" + kuid);
    }
    ScanFolderKuids(*fs, table, temp.Path(u"root"), pool);
    ASSERT_EQ(table.Count(), static_cast<std::size_t>(kFolders));
    int i = 0;
    for (const FolderKuid& record : table) {
        std::snprintf(name, sizeof name, "f%d", 1000 + i);
        std::snprintf(kuid, sizeof kuid, "<kuid:%d>", i);
        EXPECT_EQ(record->Key, platform::FromAscii(name));
        EXPECT_EQ(record->Kuid, platform::FromAscii(kuid));
        ++i;
    }
}

}  // namespace
}  // namespace dsu::kuids
