// Fails each file operation of a whole run in turn, on real installs: both
// installs must stay whole, the failure must be handled by the discipline
// that the table below gives its operation and path, and a later run must
// finish the job. The work pool runs operations in no fixed order, so each
// failure is named by operation, path and how many times that operation met
// that path before, never by its place among all calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/text.h"
#include "tests/reliability/install.h"
#include "tests/support/faulty_files.h"
#include "tests/support/temp_folder.h"

namespace dsu::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What the failed operation is to do to the run.
enum class Outcome {
    Skipped,  // best-effort: the run goes on and finishes
    Ends,     // one message, the run ends; no later skin changes
    // One message, the run ends, once every skin is in place: the replaces
    // are made durable together at the end.
    EndsAfterTheLastReplace,
};

// The parts of SmallInstall that the run meets, by their role.
enum class Kind {
    SkinsFolder,     // Korvash\World\Custom\Trains
    ScanRoot,        // Dyvenhall\Skins, World\dispatcher\downloads
    Template,        // anything of gp38 and its copy gp38_hi_dyn, config.txt too
    Config,          // a content folder's config.txt
    Descriptor,      // skin.dat of a skin that is upgraded or not a candidate
    LeftDescriptor,  // skin.dat of a skin left alone: its kuid is missing
    NewDescriptor,   // skin.dat.tmp
};

const char* KindName(Kind kind) {
    static const char* const names[] = {"skins folder", "scan root", "template",
                                        "config.txt",   "skin.dat",  "skin.dat left alone",
                                        "skin.dat.tmp"};
    return names[static_cast<int>(kind)];
}

// How the operation fails: with a FileError, or as memory that runs out
// (std::bad_alloc), which ends the run with one message too.
enum class Fault { Error, Memory };

// (operation, kind, the how-manieth meeting; 0: any, fault) -> outcome.
// Start-up meets the skins folder and every skin.dat first, then the update
// run. Every call has a row for an Error; memory runs out only where a row
// says.
struct Row {
    Op op;
    Kind kind;
    int nth;
    Outcome outcome;
    Fault fault = Fault::Error;
};
const Row kExpected[] = {
    // Start-up's survey ends on any failure; the third scan skips, but the
    // fault lasts, and the upgrade's own listing ends.
    {Op::ListSubfolders, Kind::SkinsFolder, 0, Outcome::Ends},
    {Op::ListSubfolders, Kind::ScanRoot, 0, Outcome::Skipped},
    // The template copy and the kuid scans are best-effort throughout.
    {Op::ListSubfolders, Kind::Template, 0, Outcome::Skipped},
    {Op::ListFiles, Kind::Template, 0, Outcome::Skipped},
    {Op::MakeFolder, Kind::Template, 0, Outcome::Skipped},
    {Op::CopyFile, Kind::Template, 0, Outcome::Skipped},
    {Op::DeleteFile, Kind::Template, 0, Outcome::Skipped},
    {Op::OpenReader, Kind::Template, 0, Outcome::Skipped},
    {Op::ReadLine, Kind::Template, 0, Outcome::Skipped},
    {Op::CloseReader, Kind::Template, 0, Outcome::Skipped},
    {Op::OpenReader, Kind::Config, 0, Outcome::Skipped},
    {Op::ReadLine, Kind::Config, 0, Outcome::Skipped},
    {Op::CloseReader, Kind::Config, 0, Outcome::Skipped},
    // Every descriptor's reading ends, in the survey and in the upgrade.
    {Op::OpenReader, Kind::Descriptor, 0, Outcome::Ends},
    {Op::ReadLine, Kind::Descriptor, 0, Outcome::Ends},
    {Op::CloseReader, Kind::Descriptor, 0, Outcome::Ends},
    {Op::OpenReader, Kind::LeftDescriptor, 0, Outcome::Ends},
    {Op::ReadLine, Kind::LeftDescriptor, 0, Outcome::Ends},
    {Op::CloseReader, Kind::LeftDescriptor, 0, Outcome::Ends},
    // Writing the new descriptor, putting it in place and, for a skin left
    // alone, taking it away end.
    {Op::CreateWriter, Kind::NewDescriptor, 0, Outcome::Ends},
    {Op::WriteLine, Kind::NewDescriptor, 0, Outcome::Ends},
    {Op::Flush, Kind::NewDescriptor, 0, Outcome::Ends},
    {Op::CloseWriter, Kind::NewDescriptor, 0, Outcome::Ends},
    {Op::DeleteFile, Kind::NewDescriptor, 0, Outcome::Ends},
    {Op::ReplaceFile, Kind::Descriptor, 0, Outcome::Ends},
    {Op::FlushReplace, Kind::Descriptor, 0, Outcome::EndsAfterTheLastReplace},
    // Memory that runs out on the window's thread: the survey's listing and
    // its prepare at its turn (the fault lasts), the scans' listings, the
    // template copy, and the replaces, in whose commit nothing is left over.
    {Op::ListSubfolders, Kind::SkinsFolder, 0, Outcome::Ends, Fault::Memory},
    {Op::OpenReader, Kind::Descriptor, 1, Outcome::Ends, Fault::Memory},
    {Op::ListSubfolders, Kind::ScanRoot, 0, Outcome::Ends, Fault::Memory},
    {Op::CopyFile, Kind::Template, 0, Outcome::Ends, Fault::Memory},
    {Op::ReplaceFile, Kind::Descriptor, 0, Outcome::Ends, Fault::Memory},
};

// The skins of SmallInstall whose kuids are missing.
const std::set<std::string> kLeftAlone = {"charlie", "golf"};

struct Place {
    Kind kind;
    std::string skin;  // the skin folder's name, for a path within one
};

std::optional<Place> PlaceOf(const std::string& path) {
    auto ends = [&](const std::string& end) { return path.ends_with(end); };
    const std::string trains = "Korvash\\World\\Custom\\Trains";
    if (ends(trains)) return Place{Kind::SkinsFolder, {}};
    if (ends("Dyvenhall\\Skins") || ends("World\\dispatcher\\downloads"))
        return Place{Kind::ScanRoot, {}};
    if (Contains(path, "Dyvenhall\\Skins\\gp38")) return Place{Kind::Template, {}};
    if (ends("\\config.txt")) return Place{Kind::Config, {}};
    const auto at = path.find(trains + "\\");
    if (at == std::string::npos) return std::nullopt;
    const std::string rest = path.substr(at + trains.size() + 1);
    const std::string skin = rest.substr(0, rest.find('\\'));
    if (ends("\\skin.dat.tmp")) return Place{Kind::NewDescriptor, skin};
    if (ends("\\skin.dat"))
        return Place{kLeftAlone.contains(skin) ? Kind::LeftDescriptor : Kind::Descriptor, skin};
    return std::nullopt;
}

std::optional<Outcome> Expected(Op op, Kind kind, int nth, Fault fault) {
    for (const Row& row : kExpected)
        if (row.op == op && row.kind == kind && (row.nth == 0 || row.nth == nth) &&
            row.fault == fault)
            return row.outcome;
    return std::nullopt;
}

// The failures are dealt out to a few tests, so that they can run at once.
constexpr std::size_t kShares = 4;
class FailedOperations : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FailedOperations, AreEachHandledAsTheTableSays) {
    const DiskTree before = SmallInstall();
    auto files = SystemFiles();

    // The whole run, counted: every (operation, path, nth) it makes.
    TempFolder clean;
    WriteTree(before, clean.Root());
    FaultyFileSystem counting(*files);
    const RunOutcome whole = RunUpdate(counting, clean.Path());
    ASSERT_TRUE(whole.finished) << Describe(whole.events);
    ASSERT_EQ(whole.messages.back(), "information: Skins have been upgraded.");
    const DiskTree done = ReadTree(clean.Root());
    ASSERT_NE(done, before);
    // Paths below the install's root, as each run has a root of its own.
    std::set<std::tuple<Op, std::u16string, int>> calls;
    for (const Call& call : counting.Calls()) {
        ASSERT_TRUE(call.path.starts_with(clean.Path())) << platform::ToUtf8(call.path);
        calls.insert({call.op, call.path.substr(clean.Path().size()), call.nth});
    }
    ASSERT_GT(calls.size(), 60u);
    // skin.dat.tmp is made before the reference is looked up: a skin whose
    // kuid is missing ends the run where it cannot be made.
    for (const std::string& skin : kLeftAlone)
        ASSERT_TRUE(calls.contains(
            {Op::CreateWriter,
             platform::FromUtf8("\\Korvash\\World\\Custom\\Trains\\" + skin + "\\skin.dat.tmp"),
             1}));

    const std::string trainsTree = "Korvash/World/Custom/Trains/";
    std::set<std::string> skins;
    for (const auto& [path, content] : before)
        if (path.starts_with(trainsTree) && !content) skins.insert(path.substr(trainsTree.size()));
    // Skin folders come in listing order: these names are all lower case.
    std::set<Outcome> seen;
    std::size_t share = 0;

    std::size_t outOfMemory = 0;

    std::vector<std::tuple<Op, std::u16string, int, Fault>> cases;
    for (const auto& [op, below, nth] : calls)
        for (const Fault fault : {Fault::Error, Fault::Memory})
            cases.emplace_back(op, below, nth, fault);
    for (const auto& [op, below, nth, fault] : cases) {
        const std::string path = platform::ToUtf8(below);
        SCOPED_TRACE(std::string(fault == Fault::Memory ? "out of memory in " : "failing ") +
                     OpName(op) + " #" + std::to_string(nth) + " " + path);
        const std::optional<Place> place = PlaceOf(path);
        ASSERT_TRUE(place) << "no kind for this path";
        const std::optional<Outcome> outcome = Expected(op, place->kind, nth, fault);
        if (fault == Fault::Memory && !outcome) continue;
        ASSERT_TRUE(outcome) << "no row for " << OpName(op) << " on " << KindName(place->kind);
        seen.insert(*outcome);
        outOfMemory += fault == Fault::Memory ? 1 : 0;
        // Another of these tests makes this failure.
        if (share++ % kShares != GetParam()) continue;

        TempFolder temp;
        WriteTree(before, temp.Root());
        FaultyFileSystem faulty(*files);
        if (fault == Fault::Memory)
            faulty.RunOutOfMemoryOn(op, temp.Path() + below, nth);
        else
            faulty.FailOn(op, temp.Path() + below, nth);
        const RunOutcome run = RunUpdate(faulty, temp.Path());
        ASSERT_TRUE(faulty.Failed());

        DiskTree now = ReadTree(temp.Root());
        // A skin.dat.tmp that cannot be taken away stays beside skin.dat.
        if (op == Op::DeleteFile && place->kind == Kind::NewDescriptor) {
            std::string key = path.substr(1);
            std::replace(key.begin(), key.end(), '\\', '/');
            now.erase(key);
        }
        EXPECT_EQ(Deviations(now, before, done), std::vector<std::string>{});

        // What the failure is told as: the file operation's message, or
        // "Not enough memory." alone (or as the reason of a skin's read).
        const std::string told = fault == Fault::Memory ? "Not enough memory" : "Injected failure";
        std::size_t injected = 0;
        for (const auto& m : run.messages) injected += Contains(m, told) ? 1 : 0;
        if (*outcome == Outcome::Skipped) {
            // Skipped without a word; kuids it would have found may be missing.
            EXPECT_EQ(injected, 0u) << Describe(run.events);
            EXPECT_TRUE(run.finished);
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_EQ(run.messages.back(), "information: Skins have been upgraded.");
            for (const auto& m : run.messages)
                EXPECT_TRUE(m == run.messages.back() ||
                            m.starts_with("error: Could not find a kuid for "))
                    << m;
        } else {
            // One message that names the failed operation, and the run ends.
            EXPECT_EQ(injected, 1u) << Describe(run.events);
            ASSERT_GE(run.events.size(), 2u);
            EXPECT_TRUE(Contains(run.events[run.events.size() - 2],
                                 fault == Fault::Memory ? "error: " : "error: Could not complete "))
                << Describe(run.events);
            EXPECT_TRUE(Contains(run.events[run.events.size() - 2], told)) << Describe(run.events);
            EXPECT_EQ(run.events.back(), "close");
            EXPECT_FALSE(run.finished);
            EXPECT_EQ(run.exitCode, 1);
            for (const auto& m : run.messages) EXPECT_FALSE(Contains(m, "information:"));
        }
        // A skin left alone is told of before what fails once its reference
        // was looked up: closing its files, taking its skin.dat.tmp away.
        const bool afterItsMessage =
            kLeftAlone.contains(place->skin) &&
            ((place->kind == Kind::NewDescriptor &&
              (op == Op::CloseWriter || op == Op::DeleteFile)) ||
             (place->kind == Kind::LeftDescriptor && op == Op::CloseReader && nth > 1));
        if (afterItsMessage) {
            ASSERT_GE(run.messages.size(), 2u) << Describe(run.events);
            EXPECT_TRUE(run.messages[run.messages.size() - 2].ends_with("\r\n" + place->skin +
                                                                        " not upgraded."))
                << Describe(run.events);
        }
        if (*outcome == Outcome::Ends && !place->skin.empty()) {
            // Nothing of a later skin: no message, no change, no skin.dat.tmp.
            for (const auto& m : run.messages) {
                const auto end = m.rfind(" not upgraded.");
                if (end == std::string::npos) continue;
                const auto start = m.rfind('\n', end) + 1;
                if (afterItsMessage) {
                    EXPECT_LE(m.substr(start, end - start), place->skin) << m;
                } else {
                    EXPECT_LT(m.substr(start, end - start), place->skin) << m;
                }
            }
            for (auto it = skins.upper_bound(place->skin); it != skins.end(); ++it)
                for (const auto& [p, content] : now)
                    if (p.starts_with(trainsTree + *it + "/")) {
                        EXPECT_TRUE(before.contains(p) && before.at(p) == content) << p;
                    }
        }

        // A later run without failures finishes the job.
        auto again = SystemFiles();
        const RunOutcome second = RunUpdate(*again, temp.Path());
        EXPECT_TRUE(second.finished) << Describe(second.events);
        EXPECT_EQ(Deviations(ReadTree(temp.Root()), done, done), std::vector<std::string>{});
    }
    // Every discipline was met, and memory ran out at each place of a row.
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_GT(outOfMemory, 8u);
}
INSTANTIATE_TEST_SUITE_P(WholeRunFaults, FailedOperations,
                         ::testing::Range<std::size_t>(0, kShares));

// Another program's edit of a skin.dat read ahead of its turn is seen,
// whatever that reading found: the skin is read again at its turn. Each edit
// comes once the skin was read for the update (the survey reads it first): as
// the next skin is read; while an earlier skin's message is up, of a skin
// whose kuid was missing or that was not at version 1.3. An edit made after
// the replace is kept all the same.
TEST(WholeRunFaults, AnEditMadeWhileTheRunGoesOnIsKept) {
    const std::u16string trains = u"Korvash/World/Custom/Trains/";
    const std::string charlie = "error: Could not find a kuid for es44\r\ncharlie not upgraded.";
    struct Case {
        const char* name;
        std::u16string skin;  // whose skin.dat is edited
        std::string edit;     // its new content, or "" to add a line
        Op readAhead;         // the call on `after`, its nth, after which it is edited
        std::u16string after;
        int nth;
        bool atCharliesMessage;  // and only then
        std::string now;         // its skin.dat at the end
        std::vector<std::string> messages;
    };
    const std::string golfFixed = "1.3\r\ngp38\\Hood\r\n";
    const Case cases[] = {
        {"an upgrade",
         u"alpha",
         "",
         Op::OpenReader,
         u"bravo/skin.dat",
         2,
         false,
         "1.5\r\n<kuid2:30501:1000:1>\\<kuid:30501:100>\r\npainter=1\r\ncolour=FF0000\r\n\r\n"
         "edited\r\n",
         {charlie, "error: Could not find a kuid for nowhere\r\ngolf not upgraded.",
          "information: Skins have been upgraded."}},
        {"a missing kuid",
         u"golf",
         golfFixed,
         Op::DeleteFile,
         u"golf/skin.dat.tmp",
         1,
         true,
         "1.5\r\n<kuid2:30501:1002:1>\\<kuid:30501:100>\r\n",
         {charlie, "information: Skins have been upgraded."}},
        {"a skin that becomes 1.3",
         u"delta",
         "1.3\r\ngp38\\Body\r\nnow 1.3\r\n",
         Op::CloseReader,
         u"delta/skin.dat",
         2,
         true,
         "1.5\r\n<kuid2:30501:1000:1>\\<kuid:30501:100>\r\nnow 1.3\r\n",
         {charlie, "error: Could not find a kuid for nowhere\r\ngolf not upgraded.",
          "information: Skins have been upgraded."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder temp;
        DiskTree tree = SmallInstall();
        // Without an old temporary, golf is read ahead like the others.
        if (c.skin == u"golf") tree.erase("Korvash/World/Custom/Trains/golf/skin.dat.tmp");
        WriteTree(tree, temp.Root());
        const std::u16string edited = trains + c.skin + u"/skin.dat";
        auto edit = [&] {
            const std::string bytes = c.edit.empty() ? temp.Read(edited) + "edited\r\n" : c.edit;
            // On Windows the reader may be closing it still.
            for (int tries = 0;; ++tries) {
                try {
                    return temp.Write(edited, bytes);
                } catch (const std::runtime_error&) {
                    if (tries == 1000) throw;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
        };
        auto files = SystemFiles();
        FaultyFileSystem editing(*files);
        const std::u16string after = temp.Path(trains + c.after);
        std::atomic<bool> readAhead = false;
        editing.OnCall([&](const Call& call) {
            if (call.op != c.readAhead || call.path != after || call.nth != c.nth) return;
            if (!c.atCharliesMessage) edit();
            readAhead = true;
        });
        const RunOutcome run = RunUpdate(editing, temp.Path(), [&](const std::string& message) {
            if (!c.atCharliesMessage || message != charlie) return;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!readAhead && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ASSERT_TRUE(readAhead) << "not read ahead";
            edit();
        });
        ASSERT_TRUE(run.finished) << Describe(run.events);
        EXPECT_EQ(temp.Read(edited), c.now);
        EXPECT_EQ(run.messages, c.messages);
    }
}

}  // namespace
}  // namespace dsu::testing
