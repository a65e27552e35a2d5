// Fails each file operation of a whole run in turn, on real installs: both
// installs must stay whole, the failure must be handled by the discipline of
// the step it hit, and a later run must finish the job.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/reliability/install.h"
#include "tests/support/faulty_files.h"
#include "tests/support/temp_folder.h"

namespace dsu::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(WholeRunFaults, EveryFailedOperationLeavesBothInstallsWhole) {
    const DiskTree before = SmallInstall();
    auto files = SystemFiles();

    // The whole run, counted.
    TempFolder clean;
    WriteTree(before, clean.Root());
    FaultyFileSystem counting(*files);
    const RunOutcome whole = RunUpdate(counting, clean.Path());
    ASSERT_TRUE(whole.finished) << Describe(whole.events);
    ASSERT_EQ(whole.messages.back(), "information: Skins have been upgraded.");
    const DiskTree done = ReadTree(clean.Root());
    ASSERT_NE(done, before);
    const std::vector<Call> calls = counting.Calls();

    // Where the rewrite begins: the listing of the skins that the upgrade
    // loop walks, the last listing of Trains. The survey of Load before it
    // ends the run on failure too; the copy and the scans in between skip.
    const std::u16string trains = clean.Path(u"Korvash\\World\\Custom\\Trains");
    std::size_t rewriteStart = calls.size();
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i].op == Op::ListSubfolders && calls[i].path == trains) rewriteStart = i;
    std::size_t loadEnd = 0;
    while (loadEnd < calls.size() && calls[loadEnd].op != Op::ListFiles) ++loadEnd;
    ASSERT_LT(loadEnd, rewriteStart);
    ASSERT_GT(calls.size(), 60u);

    for (std::size_t k = 1; k <= calls.size(); ++k) {
        const Call& call = calls[k - 1];
        SCOPED_TRACE("failing operation " + std::to_string(k) + ": " + OpName(call.op) + " " +
                     platform::ToUtf8(call.path));
        TempFolder temp;
        WriteTree(before, temp.Root());
        FaultyFileSystem faulty(*files);
        faulty.FailCall(static_cast<int>(k));
        const RunOutcome run = RunUpdate(faulty, temp.Path());
        ASSERT_TRUE(faulty.Failed());

        const DiskTree now = ReadTree(temp.Root());
        EXPECT_EQ(Deviations(now, before, done), std::vector<std::string>{});

        std::size_t injected = 0;
        for (const auto& m : run.messages) injected += Contains(m, "Injected failure") ? 1 : 0;
        // A skin left alone is closed and any stale skin.dat.tmp removed as
        // best-effort clean-up steps.
        const bool cleanUp =
            call.op == Op::DeleteFile ||
            (call.op == Op::CloseReader && k < calls.size() && calls[k].op == Op::DeleteFile);
        const bool ending = k - 1 < loadEnd || (k - 1 >= rewriteStart && !cleanUp);
        if (ending) {
            // One message that names the failed operation, and the run ends.
            EXPECT_EQ(injected, 1u) << Describe(run.events);
            ASSERT_GE(run.events.size(), 2u);
            EXPECT_TRUE(Contains(run.events[run.events.size() - 2], "error: Could not complete "))
                << Describe(run.events);
            EXPECT_EQ(run.events.back(), "close");
            EXPECT_FALSE(run.finished);
            EXPECT_EQ(run.exitCode, 1);
            for (const auto& m : run.messages) EXPECT_FALSE(Contains(m, "information:"));
        } else {
            // Skipped without a word; kuids it would have found may be missing.
            EXPECT_EQ(injected, 0u) << Describe(run.events);
            EXPECT_TRUE(run.finished);
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_EQ(run.messages.back(), "information: Skins have been upgraded.");
            for (const auto& m : run.messages)
                EXPECT_TRUE(m == run.messages.back() ||
                            m.starts_with("error: Could not find a kuid for "))
                    << m;
        }

        // A later run without failures finishes the job.
        auto again = SystemFiles();
        const RunOutcome second = RunUpdate(*again, temp.Path());
        EXPECT_TRUE(second.finished) << Describe(second.events);
        EXPECT_EQ(Deviations(ReadTree(temp.Root()), done, done), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace dsu::testing
