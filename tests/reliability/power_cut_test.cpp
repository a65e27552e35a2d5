// Power cuts after each step of a whole run, on a disk modelled in memory:
// every state that could survive must hold each skin.dat and each file of
// the template copy whole, old or new, and a later run must finish the job.
// The run writes several descriptors at once on its work pool, so a cut
// meets several skin.dat.tmp files in flight, in whatever order the threads
// took their steps.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

#include "kuids/folder_kuids.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "skins/descriptor.h"
#include "skins/reference.h"
#include "tests/reliability/install.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_folder.h"

namespace dsu::testing {
namespace {

constexpr int kSamples = 4;

const char* ModelName(DiskModel model) { return model == DiskModel::Linux ? "Linux" : "Windows"; }

struct CutReport {
    int states = 0;
    std::vector<std::string> problems;  // of the first state that broke
};

// Cuts the power after every step of a whole run (or every `shares`th, from
// `share` on) and checks kSamples
// surviving states of each cut; each state is then made real and run again.
CutReport CutEveryStep(SimulatedDisk::Options options, bool runAgain, long share = 0,
                       long shares = 1) {
    const DiskTree before = SmallInstall();
    SimulatedDisk whole(options, u"C:", before);
    const RunOutcome outcome = RunUpdate(whole, u"C:");
    EXPECT_TRUE(outcome.finished);
    const DiskTree done = whole.Visible();
    const long steps = whole.Steps();
    EXPECT_GT(steps, 20);

    std::mt19937 random(20261208);
    CutReport report;
    for (long n = share; n < steps; n += shares) {
        SimulatedDisk disk(options, u"C:", before);
        disk.CutPowerAfter(n);
        EXPECT_THROW(RunUpdate(disk, u"C:"), PowerCut);
        for (int s = 0; s < kSamples; ++s) {
            const DiskTree state = disk.AfterPowerCut(random);
            ++report.states;
            auto problems = Deviations(state, before, done, true);
            if (!problems.empty()) {
                if (report.problems.empty()) {
                    problems.insert(problems.begin(), "cut after step " + std::to_string(n));
                    report.problems = problems;
                }
                continue;
            }
            if (!runAgain) continue;
            // Made real, the state is run again: once per cut on the disk
            // itself, which flushes and so is slow, else on the model of it.
            TempFolder temp;
            WriteTree(state, temp.Root());
            DiskTree after;
            if (s == 0) {
                auto files = SystemFiles();
                EXPECT_TRUE(RunUpdate(*files, temp.Path()).finished) << "cut after step " << n;
                after = ReadTree(temp.Root());
            } else {
                SimulatedDisk again(options, u"C:", ReadTree(temp.Root()));
                EXPECT_TRUE(RunUpdate(again, u"C:").finished) << "cut after step " << n;
                after = again.Visible();
            }
            EXPECT_EQ(Deviations(after, done, done), std::vector<std::string>{})
                << "cut after step " << n;
        }
    }
    return report;
}

TEST(PowerCut, TheModelRunsAsTheRealDiskDoes) {
    const DiskTree before = SmallInstall();
    TempFolder temp;
    WriteTree(before, temp.Root());
    auto files = SystemFiles();
    const RunOutcome real = RunUpdate(*files, temp.Path());
    for (DiskModel model : {DiskModel::Linux, DiskModel::Windows}) {
        SCOPED_TRACE(ModelName(model));
        SimulatedDisk disk({.model = model}, u"C:", before);
        const RunOutcome simulated = RunUpdate(disk, u"C:");
        EXPECT_EQ(Deviations(disk.Visible(), ReadTree(temp.Root()), ReadTree(temp.Root())),
                  std::vector<std::string>{});
        // The messages name the same skins; only the install's path differs.
        EXPECT_EQ(simulated.messages, real.messages);
    }
}

// Each model's cuts are dealt out to two tests, so that the four can run at
// once.
constexpr long kCutShares = 2;
class EveryCut : public ::testing::TestWithParam<std::tuple<DiskModel, long>> {};

TEST_P(EveryCut, OfAWholeRunLeavesBothInstallsWhole) {
    const auto [model, share] = GetParam();
    const CutReport report = CutEveryStep({.model = model}, true, share, kCutShares);
    EXPECT_GT(report.states, 100 / kCutShares);
    EXPECT_EQ(report.problems, std::vector<std::string>{});
}
INSTANTIATE_TEST_SUITE_P(PowerCut, EveryCut,
                         ::testing::Combine(::testing::Values(DiskModel::Linux, DiskModel::Windows),
                                            ::testing::Range(0L, kCutShares)),
                         [](const auto& info) {
                             return ModelName(std::get<0>(info.param)) +
                                    std::to_string(std::get<1>(info.param));
                         });

// The replaces are made durable together at the end of the run, but before
// "Skins have been upgraded." is shown: a cut after it keeps every skin
// upgraded. (The Windows model trusts no folder change to survive.)
TEST(PowerCut, ACutAfterTheLastMessageKeepsEverySkinUpgraded) {
    const DiskTree before = SmallInstall();
    SimulatedDisk disk({.model = DiskModel::Linux}, u"C:", before);
    ASSERT_TRUE(RunUpdate(disk, u"C:").finished);
    const DiskTree done = disk.Visible();
    std::mt19937 random(16);
    for (int s = 0; s < 32; ++s) {
        const DiskTree state = disk.AfterPowerCut(random);
        for (const auto& [path, content] : done)
            if (path.ends_with("/skin.dat")) {
                EXPECT_EQ(state.at(path), content) << path;
            }
    }
}

// CopyFileW leaves its data in the system's cache; renamed into place
// unflushed, a template file could come back empty after a power cut.
TEST(PowerCut, ACopyRenamedIntoPlaceUnflushedCanComeBackEmpty) {
    const CutReport report =
        CutEveryStep({.model = DiskModel::Windows, .copyFlushesData = false}, false);
    ASSERT_FALSE(report.problems.empty());
    EXPECT_NE(Describe(report.problems).find("Dyvenhall/Skins/gp38_hi_dyn/"), std::string::npos)
        << Describe(report.problems);
}

// skin.dat.tmp written in full but never flushed; the folder text is returned.
std::u16string WriteTemporaryUnflushed(platform::FileSystem& files,
                                       const kuids::colFolderKuids& table,
                                       platform::MessageSink& messages,
                                       const std::u16string& skinFolder) {
    const std::u16string folder = platform::ResolvePath(skinFolder);
    auto reader = files.TryOpenReader(folder + u"skin.dat");
    std::string line;
    reader->ReadLinePart(line, std::string::npos);
    auto writer = files.CreateWriter(folder + u"skin.dat.tmp", platform::Existing::Replace);
    writer->WriteLine(skins::kUpgradedVersion);
    reader->ReadLinePart(line, std::string::npos);
    const std::u16string reference = skins::ApplyTemplatePrefixRule(platform::FromCodePage(line));
    writer->WriteLine(platform::ToCodePage(skins::TranslateSkinReference(
        table, messages, reference, platform::ChopPathOff(skinFolder))));
    while (!reader->AtEnd()) {
        reader->ReadLinePart(line, std::string::npos);
        writer->WriteLine(line);
    }
    writer->Close();
    reader->Close();
    return folder;
}

// The rewrite as it must not be done: the old descriptor deleted, then the
// unflushed temporary renamed into its place.
void RewriteInTheOldOrder(platform::FileSystem& files, const kuids::colFolderKuids& table,
                          platform::MessageSink& messages, const std::u16string& skinFolder) {
    const std::u16string folder = WriteTemporaryUnflushed(files, table, messages, skinFolder);
    files.DeleteFile(folder + u"skin.dat");
    static_cast<SimulatedDisk&>(files).RenameFile(folder + u"skin.dat.tmp", folder + u"skin.dat");
}

// Batched too far: an atomic replace, but the temporary's own flush left for
// the end together with the folder's.
void RewriteWithTheDataFlushLeftForLater(platform::FileSystem& files,
                                         const kuids::colFolderKuids& table,
                                         platform::MessageSink& messages,
                                         const std::u16string& skinFolder) {
    const std::u16string folder = WriteTemporaryUnflushed(files, table, messages, skinFolder);
    files.ReplaceFile(folder + u"skin.dat.tmp", folder + u"skin.dat");
    files.FlushReplace(folder + u"skin.dat");
}

void RewriteAsShipped(platform::FileSystem& files, const kuids::colFolderKuids& table,
                      platform::MessageSink& messages, const std::u16string& skinFolder) {
    platform::WorkPool pool(platform::kWriteThreads);
    skins::UpgradeSkinDescriptors(files, table, messages, pool, {skinFolder}, {});
}

TEST(PowerCut, OnlyAFlushedAtomicReplaceKeepsTheDescriptorWhole) {
    using Rewrite = void (*)(platform::FileSystem&, const kuids::colFolderKuids&,
                             platform::MessageSink&, const std::u16string&);
    struct Case {
        const char* name;
        Rewrite rewrite;
        DiskModel model;
        bool keepsWhole;
    };
    const Case cases[] = {
        {"old order, Linux", RewriteInTheOldOrder, DiskModel::Linux, false},
        {"old order, Windows", RewriteInTheOldOrder, DiskModel::Windows, false},
        {"as shipped, Linux", RewriteAsShipped, DiskModel::Linux, true},
        {"as shipped, Windows", RewriteAsShipped, DiskModel::Windows, true},
        {"data flush left for later, Linux", RewriteWithTheDataFlushLeftForLater, DiskModel::Linux,
         false},
        {"data flush left for later, Windows", RewriteWithTheDataFlushLeftForLater,
         DiskModel::Windows, false},
    };
    const std::string old = "1.3\r\ngp38\\Body\r\npainter=1\r\n" + std::string(200, 'x') + "\r\n";
    const std::string upgraded =
        "1.5\r\n<kuid:3:300>\\<kuid:1:100>\r\npainter=1\r\n" + std::string(200, 'x') + "\r\n";
    kuids::colFolderKuids table;
    table.Add(u"gp38_hi_dyn", u"<kuid:1:100>");
    table.Add(u"gp38_hi_dyn_Body", u"<kuid:3:300>");
    const DiskTree before{{"Skin", std::nullopt}, {"Skin/skin.dat", old}};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingView view;
        SimulatedDisk whole({.model = c.model}, u"C:", before);
        c.rewrite(whole, table, view, u"C:\\Skin");
        ASSERT_EQ(whole.Visible().at("Skin/skin.dat"), upgraded);
        const long steps = whole.Steps();

        std::mt19937 random(7);
        int broken = 0;
        for (long n = 0; n <= steps; ++n) {
            SimulatedDisk disk({.model = c.model}, u"C:", before);
            disk.CutPowerAfter(n);
            try {
                c.rewrite(disk, table, view, u"C:\\Skin");
            } catch (const PowerCut&) {
            }
            for (int s = 0; s < 32; ++s) {
                const DiskTree state = disk.AfterPowerCut(random);
                const auto it = state.find("Skin/skin.dat");
                if (it == state.end() || (it->second != old && it->second != upgraded)) ++broken;
            }
        }
        if (c.keepsWhole)
            EXPECT_EQ(broken, 0);
        else
            EXPECT_GT(broken, 0);
    }
}

}  // namespace
}  // namespace dsu::testing
