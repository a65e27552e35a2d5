// The Linux program killed at random moments of a run on a large install:
// both installs must stay whole, and a later run must finish the job.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/reliability/install.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wine_prefix.h"

namespace dsu::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Starts the program on `prefix` without waiting for it.
pid_t Start(const std::string& prefix) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execl(DSU_PROGRAM, DSU_PROGRAM, "--console", "--yes", "--prefix", prefix.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// A prefix whose drive C: holds a large generated install.
class LargeInstall {
  public:
    LargeInstall() : prefix_({RegText("C:\\Games\\Korvash\\"), RegText("C:\\Games\\Dyvenhall")}) {
        const std::string source = std::getenv("DSU_SOURCE_DIR");
        const std::string command = "python3 " + source + "/tools/make_install.py '" +
                                    Drive().string() + "/Games' --skins 250 --content 300 --seed 7";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("make_install.py failed");
    }
    fs::path Prefix() const { return prefix_.Prefix(); }
    fs::path Drive() const { return Prefix() / "drive_c"; }
    // A copy of the whole prefix below `folder`, links kept as links.
    fs::path CopyTo(const TempFolder& folder) const {
        const fs::path copy = folder.Root() / "prefix";
        fs::copy(Prefix(), copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        return copy;
    }

  private:
    FakeWinePrefix prefix_;
};

TEST(KilledRun, EveryKillLeavesBothInstallsWholeAndALaterRunFinishes) {
    const LargeInstall install;
    const DiskTree before = ReadTree(install.Drive());

    // A whole run gives the finished state; the shorter of two, timed, gives
    // the span to kill in, as the first may pay for a cold file cache.
    TempFolder whole, again;
    const fs::path wholePrefix = install.CopyTo(whole);
    const fs::path againPrefix = install.CopyTo(again);
    auto timedRun = [](const fs::path& prefix) {
        const auto start = Clock::now();
        EXPECT_EQ(Wait(Start(prefix)), 0);
        return Clock::now() - start;
    };
    const auto span = std::min(timedRun(wholePrefix), timedRun(againPrefix));
    const DiskTree done = ReadTree(wholePrefix / "drive_c");
    ASSERT_NE(Deviations(done, before, before), std::vector<std::string>{});

    std::mt19937 random(20261208);
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(span).count());
    int killed = 0;
    for (int i = 0; i < 8; ++i) {
        const auto delay = std::chrono::microseconds(moment(random));
        SCOPED_TRACE("kill after " + std::to_string(delay.count()) + " us");
        TempFolder temp;
        const fs::path prefix = install.CopyTo(temp);
        const pid_t pid = Start(prefix);
        // The moment of the kill is the point of the test, not a wait for
        // something to happen.
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        const int status = Wait(pid);
        killed += WIFSIGNALED(status) ? 1 : 0;

        EXPECT_EQ(Deviations(ReadTree(prefix / "drive_c"), before, done, true),
                  std::vector<std::string>{});
        ASSERT_EQ(Wait(Start(prefix)), 0);
        EXPECT_EQ(Deviations(ReadTree(prefix / "drive_c"), done, done), std::vector<std::string>{});
    }
    // Most kills land inside the run.
    EXPECT_GE(killed, 4);
}

}  // namespace
}  // namespace dsu::testing
