#include "bench/cases.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <utility>

#include "app/main_form.h"
#include "bench/support.h"
#include "kuids/kuid_scan.h"
#include "platform/text.h"
#include "tests/support/recording_view.h"

namespace dsu::bench {

namespace fs = std::filesystem;

namespace {

// A working copy of one generated install. The whole install is copied once
// and kept for later runs (the jobs never write to the content folders); the
// folders the update run writes to are copied afresh before any run that
// follows one that may have written them.
class Install {
  public:
    Install(std::string generated, std::string work)
        : generated_(std::move(generated)),
          root_(work + "/install"),
          stamp_(std::move(work) + "/copied") {}

    const std::string& Root() {
        if (!copied_ && !fs::exists(stamp_)) {
            fs::remove_all(fs::path(root_).parent_path());
            fs::create_directories(fs::path(root_).parent_path());
            fs::copy(generated_, root_, fs::copy_options::recursive);
            std::ofstream(stamp_).put('\n');
            written_ = false;
        }
        // The baselines walk the prefix's drive link, so it is laid out here.
        if (!copied_) MakeEnvironment(root_);
        copied_ = true;
        return root_;
    }
    void Refresh() {
        Root();
        if (!std::exchange(written_, false)) return;
        for (const char* part : {"/Korvash/World/Custom/Trains", "/Dyvenhall"}) {
            fs::remove_all(root_ + part);
            fs::copy(generated_ + part, root_ + part, fs::copy_options::recursive);
        }
    }
    std::string Korvash() { return Root() + "/Korvash"; }
    std::string Dyvenhall() { return Root() + "/Dyvenhall"; }
    // The next Refresh copies afresh: a run that writes is about to start.
    void WillWrite() { written_ = true; }

  private:
    std::string generated_;
    std::string root_;
    std::string stamp_;
    bool copied_ = false;
    bool written_ = true;  // a kept copy may have been written by an earlier process
};

bool coldCache = false;

// Times `job` alone; what comes before it is set-up.
template <class Job>
Figures Measure(Job&& job) {
    Settle();
    if (coldCache && !DropCaches()) {
        std::fprintf(stderr, "cannot empty the file cache here: the runs are warm\n");
        coldCache = false;
    }
    ResetPeakMemory();
    Figures figures;
    figures.startBytes = CurrentMemory();
    const double processorStart = ProcessorSeconds();
    const auto start = std::chrono::steady_clock::now();
    figures.items = job();
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.processorSeconds = ProcessorSeconds() - processorStart;
    figures.peakBytes = PeakMemory();
    return figures;
}

// Skins whose skin.dat is at `version` now: the check that both sides of a
// case did the same work.
std::size_t CountAtVersion(const std::string& korvash, const std::string& version) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(korvash + "/World/Custom/Trains")) {
        std::ifstream in(entry.path() / "skin.dat", std::ios::binary);
        std::string line;
        if (in && std::getline(in, line, '\r') && line == version) ++count;
    }
    return count;
}

std::size_t SurveyCount(const testing::RecordingView& view) {
    for (auto it = view.events.rbegin(); it != view.events.rend(); ++it)
        if (it->rfind("status: ", 0) == 0) return std::stoul(it->substr(8));
    throw std::runtime_error("no status");
}

std::string PlainName(std::size_t threads) {
    return threads == 1 ? "plain" : "plain" + std::to_string(threads);
}

}  // namespace

std::vector<Case> MakeCases(const std::string& data, const std::string& work,
                            const std::vector<std::string>& sizes, int repetitions,
                            std::size_t threads, bool cold) {
    coldCache = cold;
    // --threads sets both of the program's pools; 0 keeps their own sizes.
    const std::size_t readThreads = threads == 0 ? platform::kReadThreads : threads;
    const std::size_t writeThreads = threads == 0 ? platform::kWriteThreads : threads;
    constexpr std::size_t kSpread = 8;
    std::vector<Case> cases;
    for (const std::string& size : sizes) {
        const std::string generated = data + "/install-" + size;
        if (!fs::exists(generated)) continue;
        auto install = std::make_shared<Install>(generated, work + "/" + size);
        // The largest installs take long enough that fewer runs do.
        const int reps = repetitions > 0 ? repetitions : size == "100k" ? 1 : size == "10k" ? 3 : 5;

        // The kuid scan of one content root: 100,000 folders at the largest size.
        {
            const int scanReps = repetitions > 0 ? repetitions : 5;
            cases.push_back({"scan/code/" + size, scanReps, [install, readThreads] {
                                 const std::string root =
                                     install->Korvash() + "/World/dispatcher/downloads";
                                 Environment env = MakeEnvironment(install->Root());
                                 const std::u16string path = SystemPath(install->Root(), root);
                                 platform::WorkPool pool(readThreads);
                                 return Measure([&] {
                                     kuids::colFolderKuids table;
                                     kuids::ScanFolderKuids(*env.files, table, path, pool);
                                     return table.Count();
                                 });
                             }});
            for (const std::size_t spread : {std::size_t{1}, kSpread})
                cases.push_back(
                    {"scan/" + PlainName(spread) + "/" + size, scanReps, [install, spread] {
                         const std::string root = ProgramHostPath(
                             install->Root(), install->Korvash() + "/World/dispatcher/downloads");
                         return Measure([&] { return PlainKuidScan(root, spread); });
                     }});
        }

        cases.push_back({"survey/code/" + size, reps, [install, readThreads, writeThreads] {
                             install->Refresh();
                             Environment env = MakeEnvironment(install->Root());
                             testing::RecordingView view;
                             app::frmMain form(*env.files, *env.registry, view, readThreads,
                                               writeThreads);
                             return Measure([&] {
                                 if (!form.Load()) throw std::runtime_error("Load ended");
                                 return SurveyCount(view);
                             });
                         }});
        for (const std::size_t spread : {std::size_t{1}, kSpread})
            cases.push_back({"survey/" + PlainName(spread) + "/" + size, reps, [install, spread] {
                                 install->Refresh();
                                 const std::string korvash =
                                     ProgramHostPath(install->Root(), install->Korvash());
                                 return Measure([&] { return PlainSurvey(korvash, spread); });
                             }});

        cases.push_back({"update/code/" + size, reps, [install, readThreads, writeThreads] {
                             install->Refresh();
                             install->WillWrite();
                             Environment env = MakeEnvironment(install->Root());
                             testing::RecordingView view;
                             auto form = std::make_unique<app::frmMain>(
                                 *env.files, *env.registry, view, readThreads, writeThreads);
                             if (!form->Load()) throw std::runtime_error("Load ended");
                             Figures figures = Measure([&] {
                                 if (!form->UpgradeSkins()) throw std::runtime_error("run ended");
                                 form.reset();
                                 return std::size_t{0};
                             });
                             figures.items = CountAtVersion(install->Korvash(), "1.5");
                             return figures;
                         }});
        for (const std::size_t spread : {std::size_t{1}, kSpread})
            cases.push_back({"update/" + PlainName(spread) + "/" + size, reps, [install, spread] {
                                 install->Refresh();
                                 install->WillWrite();
                                 const std::string korvash =
                                     ProgramHostPath(install->Root(), install->Korvash());
                                 const std::string dyvenhall =
                                     ProgramHostPath(install->Root(), install->Dyvenhall());
                                 Figures figures = Measure(
                                     [&] { return PlainUpdate(korvash, dyvenhall, spread); });
                                 figures.items = CountAtVersion(korvash, "1.5");
                                 return figures;
                             }});
    }
    return cases;
}

}  // namespace dsu::bench
