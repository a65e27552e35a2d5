#include "skins/descriptor.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "tests/support/faulty_files.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_folder.h"

namespace dsu::skins {
namespace {

using testing::TempFolder;

class Descriptor : public ::testing::Test {
  protected:
    TempFolder temp;
    std::unique_ptr<platform::FileSystem> fs = platform::MakeSystemFileSystem();
    kuids::colFolderKuids table;
    testing::RecordingView view;
    platform::WorkPool pool{platform::kWriteThreads};

    void SetUp() override {
        table.Add(u"gp38_hi_dyn", u"<kuid:1:100>");
        table.Add(u"gp38_hi_dyn_Body", u"<kuid:2:200>");
        table.Add(u"gp38_hi_dyn_", u"<kuid:3:300>");
        table.Add(u"sd40", u"<kuid:4:400>");
    }

    // What the update run did to the one skin, told by the calls it made and
    // the messages it showed, not by the files the tests then check.
    UpgradeOutcome Upgrade(platform::FileSystem& files, const std::u16string& skin = u"MySkin") {
        testing::FaultyFileSystem watched(files);
        const std::size_t told = view.events.size();
        UpgradeSkinDescriptors(watched, table, view, pool, {temp.Path(skin)}, {});
        bool created = false, replaced = false;
        for (const testing::Call& call : watched.Calls()) {
            created = created || call.op == testing::Op::CreateWriter;
            replaced = replaced || call.op == testing::Op::ReplaceFile;
        }
        if (replaced) return UpgradeOutcome::Upgraded;
        if (view.events.size() != told) return UpgradeOutcome::KuidMissing;
        return created ? UpgradeOutcome::NoReference : UpgradeOutcome::NotCandidate;
    }
};

constexpr char kNew[] = "1.5\r\n<kuid:2:200>\\<kuid:1:100>\r\n";

TEST_F(Descriptor, RewriteCasesBytesInBytesOut) {
    struct Case {
        const char* name;
        std::string in;
        UpgradeOutcome outcome;
        std::string out;  // the same as `in` when unchanged
    };
    const std::string binary("\0\x80\xff\nraw", 8);
    const Case cases[] = {
        {"four lines", "1.3\r\ngp38\\Body\r\nthird\r\n\r\n", UpgradeOutcome::Upgraded,
         std::string(kNew) + "third\r\n\r\n"},
        {"prefix in any case", "1.3\r\nGP38\\Body\r\n", UpgradeOutcome::Upgraded, kNew},
        {"no end on last line", "1.3\r\ngp38\\Body\r\nlast", UpgradeOutcome::Upgraded,
         std::string(kNew) + "last\r\n"},
        {"cr alone ends lines", "1.3\rgp38\\Body\rx\r", UpgradeOutcome::Upgraded,
         std::string(kNew) + "x\r\n"},
        {"prefix only", "1.3\r\ngp38\\\r\n", UpgradeOutcome::Upgraded,
         "1.5\r\n<kuid:3:300>\\<kuid:1:100>\r\n"},
        {"already the copy", "1.3\r\ngp38_hi_dyn\\Body\r\n", UpgradeOutcome::Upgraded, kNew},
        {"bytes kept", "1.3\r\ngp38\\Body\r\n" + binary + "\r\n\r\nend", UpgradeOutcome::Upgraded,
         std::string(kNew) + binary + "\r\n\r\nend\r\n"},
        {"version 1.5", "1.5\r\ngp38\\Body\r\n", UpgradeOutcome::NotCandidate, ""},
        {"blank ahead", " 1.3\r\ngp38\\Body\r\n", UpgradeOutcome::NotCandidate, ""},
        {"blank behind", "1.3 \r\ngp38\\Body\r\n", UpgradeOutcome::NotCandidate, ""},
        {"1.30", "1.30\r\ngp38\\Body\r\n", UpgradeOutcome::NotCandidate, ""},
        {"lf alone", "1.3\ngp38\\Body\n", UpgradeOutcome::NotCandidate, ""},
        {"no second line", "1.3\r\n", UpgradeOutcome::NoReference, ""},
        {"only the version", "1.3", UpgradeOutcome::NoReference, ""},
        {"kuid missing", "1.3\r\nsd40\\Body\r\nx\r\n", UpgradeOutcome::KuidMissing, ""},
        {"gp38 alone", "1.3\r\ngp38\r\n", UpgradeOutcome::KuidMissing, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        temp.Write(u"MySkin/skin.dat", c.in);
        temp.Write(u"MySkin/skin.dat.tmp", "an old temporary descriptor");
        EXPECT_EQ(Upgrade(*fs), c.outcome);
        EXPECT_EQ(temp.Read(u"MySkin/skin.dat"), c.out.empty() ? c.in : c.out);
        // A stale skin.dat.tmp stays, as it was, only where the skin was not a
        // candidate.
        const bool kept = c.outcome == UpgradeOutcome::NotCandidate;
        EXPECT_EQ(temp.Exists(u"MySkin/skin.dat.tmp"), kept);
        if (kept) {
            EXPECT_EQ(temp.Read(u"MySkin/skin.dat.tmp"), "an old temporary descriptor");
        }
    }
}

TEST_F(Descriptor, AnEmptyDescriptorIsAFailure) {
    temp.Write(u"MySkin/skin.dat", "");
    try {
        Upgrade(*fs);
        FAIL() << "an empty skin.dat passed";
    } catch (const platform::FileError& e) {
        EXPECT_NE(e.Message().find(temp.Path(u"MySkin\\skin.dat")), std::u16string::npos);
    }
    EXPECT_EQ(temp.Read(u"MySkin/skin.dat"), "");
}

// Fails each file operation of one rewrite in turn: skin.dat must be whole,
// old or new, every time, and the failure must reach the caller.
TEST_F(Descriptor, EveryFailedOperationLeavesTheDescriptorWhole) {
    const std::string old = "1.3\r\ngp38\\Body\r\nthird\r\n\r\n";
    const std::string upgraded = std::string(kNew) + "third\r\n\r\n";

    temp.Write(u"MySkin/skin.dat", old);
    testing::FaultyFileSystem counting(*fs);
    ASSERT_EQ(Upgrade(counting), UpgradeOutcome::Upgraded);
    temp.Write(u"MySkin/skin.dat", old);
    const std::size_t operations = counting.Calls().size();
    ASSERT_GE(operations, 8u);

    for (std::size_t k = 1; k <= operations; ++k) {
        SCOPED_TRACE("failing operation " + std::to_string(k));
        temp.Write(u"MySkin/skin.dat", old);
        testing::FaultyFileSystem faulty(*fs);
        faulty.FailCall(static_cast<int>(k));
        EXPECT_THROW(UpgradeSkinDescriptors(faulty, table, view, pool, {temp.Path(u"MySkin")}, {}),
                     platform::FileError);
        EXPECT_TRUE(faulty.Failed());
        const std::string now = temp.Read(u"MySkin/skin.dat");
        EXPECT_TRUE(now == old || now == upgraded) << now;
        EXPECT_FALSE(temp.Exists(u"MySkin/skin.dat.tmp"));
        // A later run finishes the job.
        EXPECT_EQ(Upgrade(*fs) == UpgradeOutcome::Upgraded, now == old);
        EXPECT_EQ(temp.Read(u"MySkin/skin.dat"), upgraded);
    }
}

TEST(TemplatePrefixRule, OnlyTheGp38PrefixIsRewritten) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"gp38\\Body", u"gp38_hi_dyn\\Body"},
        {u"GP38\\Body", u"gp38_hi_dyn\\Body"},
        {u"Gp38\\bOdY", u"gp38_hi_dyn\\bOdY"},
        {u"gp38\\", u"gp38_hi_dyn\\"},
        {u"gp38", u"gp38"},
        {u"gp38_hi_dyn\\Body", u"gp38_hi_dyn\\Body"},
        {u"gp3", u"gp3"},
        {u"xgp38\\Body", u"xgp38\\Body"},
        {u"", u""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ApplyTemplatePrefixRule(in), out);
}

}  // namespace
}  // namespace dsu::skins
