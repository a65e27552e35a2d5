// A small Korvash and Dyvenhall install for the reliability tests, the run
// of the window's logic over it, and the checks every interrupted run must
// pass: each entry of both installs as it was or as a whole run leaves it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "tests/support/simulated_disk.h"

namespace dsu::testing {

// Korvash/ and Dyvenhall/: skins at version 1.3 (two whose kuids are
// missing), one at 1.5, one without skin.dat; the gp38 template with a
// subfolder, and an older gp38_hi_dyn copy with a stale file and one of its
// own; content folders with config.txt files.
DiskTree SmallInstall();

// The registry of an install whose folders are known.
class FixedRegistry final : public platform::Registry {
  public:
    FixedRegistry(std::u16string host, std::u16string paint)
        : host_(std::move(host)), paint_(std::move(paint)) {}
    std::u16string QueryRegistryPath(platform::RegistryRoot, const std::u16string& subkey,
                                     const std::u16string& valueName) override;

  private:
    std::u16string host_;
    std::u16string paint_;
};

struct RunOutcome {
    bool loaded = false;
    bool finished = false;  // UpgradeSkins returned true
    int exitCode = 0;
    std::vector<std::string> events;    // RecordingView's
    std::vector<std::string> messages;  // its messages alone
    std::size_t loadCalls = 0;          // file operations of Load, when counted
};

// Start-up and one click of "Update Now" over the install below `root`
// (the program's form of a folder holding Korvash\ and Dyvenhall\).
// `onMessage` runs while each message is up.
RunOutcome RunUpdate(platform::FileSystem& files, const std::u16string& root,
                     const std::function<void(const std::string&)>& onMessage = {});

// The file services of this platform, for real folders.
std::unique_ptr<platform::FileSystem> SystemFiles();

// Entries of `now` that are neither as in `before` nor as in `done`. With
// `leftovers`, a skin.dat.tmp or a copy's temporary of a run cut short passes,
// one made in the place of an old one too.
std::vector<std::string> Deviations(const DiskTree& now, const DiskTree& before,
                                    const DiskTree& done, bool leftovers = false);

std::string Describe(const std::vector<std::string>& lines);

}  // namespace dsu::testing
