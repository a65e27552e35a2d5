#include "app/main_form.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

#include "kuids/kuid_scan.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "skins/descriptor.h"
#include "skins/template_copy.h"

namespace dsu::app {

using platform::MessageKind;
using platform::ResolvePath;

namespace {
constexpr char16_t kSkinsFolder[] = u"World\\Custom\\Trains";

// Whether an event runs, and a stop asked while it does. The lock orders a
// stop asked from another thread against an event's start and end: none is
// asked outside an event, so none outlives the event it was asked in. A
// signal's handler takes no lock; it runs on the thread that starts and ends
// the events (the others block the signals), so it meets them in order.
struct Stops {
    std::mutex mutex;
    std::atomic<bool> running = false;
    std::atomic<bool> asked = false;
    std::atomic<int> idleStatus = 1;  // the exit status while no event runs
};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler reads them");
Stops stops;

void BeginEvent() {
    std::lock_guard lock(stops.mutex);
    stops.running = true;
}

// True when a stop was asked during the event.
bool EndEvent(int idleStatus) {
    std::lock_guard lock(stops.mutex);
    stops.idleStatus = idleStatus;
    stops.running = false;
    return stops.asked.exchange(false);
}
}  // namespace

void RequestStop() noexcept {
    std::lock_guard lock(stops.mutex);
    if (stops.running) stops.asked = true;
}

void StopOnSignal() noexcept {
    // Nothing runs: nothing to finish.
    if (!stops.running) std::_Exit(stops.idleStatus);
    stops.asked = true;
}

void frmMain::KeepAlive() { view_.KeepAlive(); }

void frmMain::StopPoint() {
    if (stops.asked.load()) throw platform::Failure(kStopped);
}

frmMain::frmMain(platform::FileSystem& files, platform::Registry& registry, View& view,
                 std::size_t readThreads, std::size_t writeThreads)
    : files_(files),
      registry_(registry),
      view_(view),
      readPool_(readThreads),
      writePool_(writeThreads) {}

void frmMain::End(const std::u16string& message) {
    ending_ = message;
    exitCode_ = 1;
    ended_ = true;
}

template <class Event>
bool frmMain::RunEvent(Event&& event) {
    if (ended_) return false;
    BeginEvent();
    try {
        event();
    } catch (const platform::Failure& failure) {
        End(failure.Message());
    } catch (const std::bad_alloc&) {
        End(kNotEnoughMemory);
    } catch (...) {
        EndEvent(1);
        throw;
    }
    // What the player does between events is seen: the next one finds its
    // folders by name.
    files_.ReleaseHeldFolders();
    // Nothing runs from here on; a stop now ends the program at once.
    const bool stopped = EndEvent(ended_ || updatePending_ ? 1 : 0);
    if (stopped && !ended_ && updatePending_) End(kStopped);
    if (ended_) {
        view_.ShowMessage(ending_, MessageKind::Error);
        view_.Close();
        return false;
    }
    if (stopped) {
        // Nothing was left to stop: what the event did has been told.
        view_.Close();
        ended_ = true;
        return false;
    }
    return true;
}

bool frmMain::Load() {
    return RunEvent([&] {
        // Both lookups come before either test, and emptiness is judged on
        // the text as read: ResolvePath turns the empty text into "\".
        const std::u16string host = registry_.QueryRegistryPath(
            platform::RegistryRoot::LocalMachine, kHostAppPathsKey, u"Path");
        mainPath_ = ResolvePath(host);
        const std::u16string paint = registry_.QueryRegistryPath(
            platform::RegistryRoot::LocalMachine, kPaintAppPathsKey, u"Path");
        paintPath_ = ResolvePath(paint);

        if (host.empty()) return End(u"Trains could not be found.  You may have to reinstall.");
        if (paint.empty()) return End(u"Dyvenhall could not be found.  You may have to reinstall.");
        // Two programs at once on one install would each take the other's
        // work for a change made meanwhile.
        claim_ = files_.ClaimFolder(mainPath_ + kSkinsFolder);
        if (!claim_) return End(kAlreadyRunning);
        SurveySkins();
    });
}

void frmMain::SurveySkins() {
    view_.SetStatus(u"Scanning for Skins...");
    view_.Show();
    view_.Repaint();

    // Every skin folder is counted, however many there are.
    const std::vector<std::u16string> folders = files_.ListSubfolders(mainPath_ + kSkinsFolder);
    std::size_t count = 0;
    platform::InOrder(
        readPool_, folders.size(), platform::kSmallResultsAhead,
        [&](std::size_t i, bool) {
            auto reader = skins::OpenCandidate(files_, folders[i] + u"\\skin.dat");
            if (!reader) return false;
            reader->Close();
            return true;
        },
        [&](std::size_t, bool candidate) {
            count += candidate ? 1 : 0;
            return true;
        },
        [](bool) {},
        [this] {
            KeepAlive();
            StopPoint();
        });

    view_.SetStatus(platform::DecimalText(static_cast<long long>(count)) +
                    u" Skins need to be updated.");
    updatePending_ = count != 0;
    if (count == 0) view_.DisableUpdate();
}

bool frmMain::UpgradeSkins() {
    const bool goesOn = RunEvent([&] {
        view_.SetStatus(u"Scanning for Kuids...");
        view_.Repaint();
        StopPoint();

        // The copy comes first, so that the first scan already finds gp38_hi_dyn;
        // the scans' order decides which root's kuid a folder name gets.
        skins::CopyTemplateSkin(files_, paintPath_ + u"Skins\\gp38",
                                paintPath_ + u"Skins\\gp38_hi_dyn");
        const auto scanning = [this] {
            KeepAlive();
            StopPoint();
        };
        kuids::ScanFolderKuids(files_, folderKuids_, paintPath_ + u"Skins", readPool_, scanning);
        kuids::ScanFolderKuids(files_, folderKuids_, mainPath_ + u"World\\dispatcher\\downloads",
                               readPool_, scanning);
        kuids::ScanFolderKuids(files_, folderKuids_, mainPath_ + kSkinsFolder, readPool_, scanning);

        view_.SetStatus(u"Upgrading Sp3 Skins...");
        scanning();
        skins::UpgradeSkinDescriptors(
            files_, folderKuids_, view_, writePool_,
            files_.ListSubfolders(mainPath_ + kSkinsFolder), [this] { KeepAlive(); },
            [this] { StopPoint(); });

        view_.SetStatus(u"Skins have been upgraded.");
        updatePending_ = false;
    });
    // Told once the run is over, so that a stop meanwhile ends the program.
    if (!goesOn) return false;
    view_.ShowMessage(u"Skins have been upgraded.", MessageKind::Information);
    view_.DisableUpdate();
    return true;
}

}  // namespace dsu::app
