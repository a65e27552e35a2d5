#include "app/main_form.h"

#include <atomic>
#include <exception>
#include <mutex>

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
}  // namespace

frmMain::frmMain(platform::FileSystem& files, platform::Registry& registry, View& view,
                 std::size_t readThreads, std::size_t writeThreads)
    : files_(files),
      registry_(registry),
      view_(view),
      readPool_(readThreads),
      writePool_(writeThreads) {}

void frmMain::End(const std::u16string& message) {
    view_.ShowMessage(message, MessageKind::Error);
    view_.Close();
    exitCode_ = 1;
    ended_ = true;
}

template <class Event>
bool frmMain::RunEvent(Event&& event) {
    if (ended_) return false;
    try {
        event();
    } catch (const platform::Failure& failure) {
        End(failure.Message());
    }
    return !ended_;
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
        SurveySkins();
    });
}

void frmMain::SurveySkins() {
    view_.SetStatus(u"Scanning for Skins...");
    view_.Show();
    view_.Repaint();

    // Every skin folder is counted, however many there are. The descriptors
    // are read on the pool while the folder is still being listed, in no set
    // order: the count does not depend on it, and of several failures the one
    // that ends start-up is still the first in listing order.
    std::atomic<std::size_t> count = 0;
    std::mutex failedMutex;
    std::u16string failedFolder;
    std::exception_ptr failure;
    const std::u16string trains = mainPath_ + kSkinsFolder;
    const auto held = files_.HoldFolder(trains);
    platform::AsListed<std::u16string>(
        readPool_, [&](const auto& found) { files_.ListSubfoldersAsFound(trains, found); },
        [&](const std::u16string& folder) {
            try {
                auto reader = skins::OpenCandidate(files_, folder + u"\\skin.dat");
                if (!reader) return;
                reader->Close();
                count.fetch_add(1, std::memory_order_relaxed);
            } catch (const platform::Failure&) {
                std::lock_guard lock(failedMutex);
                if (!failure || platform::ListingOrder(folder, failedFolder)) {
                    failedFolder = folder;
                    failure = std::current_exception();
                }
            }
        },
        [this] { view_.KeepAlive(); });
    if (failure) std::rethrow_exception(failure);

    view_.SetStatus(platform::DecimalText(static_cast<long long>(count.load())) +
                    u" Skins need to be updated.");
    if (count == 0) view_.DisableUpdate();
}

bool frmMain::UpgradeSkins() {
    return RunEvent([&] {
        view_.SetStatus(u"Scanning for Kuids...");
        view_.Repaint();

        // The copy comes first, so that the first scan already finds gp38_hi_dyn;
        // the scans' order decides which root's kuid a folder name gets.
        skins::CopyTemplateSkin(files_, paintPath_ + u"Skins\\gp38",
                                paintPath_ + u"Skins\\gp38_hi_dyn");
        const auto keepAlive = [this] { view_.KeepAlive(); };
        kuids::ScanFolderKuids(files_, folderKuids_, paintPath_ + u"Skins", keepAlive, &readPool_);
        kuids::ScanFolderKuids(files_, folderKuids_, mainPath_ + u"World\\dispatcher\\downloads",
                               keepAlive, &readPool_);
        kuids::ScanFolderKuids(files_, folderKuids_, mainPath_ + kSkinsFolder, keepAlive,
                               &readPool_);

        view_.SetStatus(u"Upgrading Sp3 Skins...");
        view_.KeepAlive();
        const auto held = files_.HoldFolder(mainPath_ + kSkinsFolder);
        UpgradeAll(files_.ListSubfolders(mainPath_ + kSkinsFolder));

        view_.SetStatus(u"Skins have been upgraded.");
        view_.ShowMessage(u"Skins have been upgraded.", MessageKind::Information);
        view_.DisableUpdate();
    });
}

void frmMain::UpgradeAll(const std::vector<std::u16string>& folders) {
    // Each new descriptor is written and flushed on the writing pool; this
    // thread then shows the messages and swaps the descriptors in, in listing
    // order, up to the first failure. Descriptors prepared beyond it are
    // discarded, so that every later skin stays as it was. The replaces stay
    // on this one thread: made from several, a failed one could follow later
    // skins' replaces. Freeing the old descriptors, which may wait on the
    // disk, is left to the pool.
    std::vector<std::u16string> replaced;
    try {
        platform::InOrder<skins::PreparedDescriptor>(
            writePool_, folders.size(), platform::Ahead::Window,
            [&](std::size_t i) {
                // Each prepare precedes at most one replace: freeing two old
                // descriptors keeps up, and holds the prepare up little.
                files_.ReleaseReplaced(2);
                return skins::PrepareSkinDescriptor(files_, folderKuids_, folders[i]);
            },
            [&](std::size_t, const skins::PreparedDescriptor& prepared) {
                if (skins::CommitSkinDescriptor(files_, view_, prepared) ==
                    skins::UpgradeOutcome::Upgraded)
                    replaced.push_back(prepared.descriptor);
                view_.KeepAlive();
            },
            [&](const skins::PreparedDescriptor& prepared) {
                skins::DiscardSkinDescriptor(files_, prepared);
            },
            [this] { view_.KeepAlive(); });
    } catch (const platform::Failure&) {
        // The skins before the failure stay upgraded, and durably so; a
        // failed flush among them is the earlier failure and is the one told.
        FlushReplaces(replaced);
        throw;
    }
    FlushReplaces(replaced);
}

void frmMain::FlushReplaces(const std::vector<std::u16string>& descriptors) {
    // Concurrent flushes of one file system are committed together.
    platform::InOrder<bool>(
        writePool_, descriptors.size(), platform::Ahead::All,
        [&](std::size_t i) {
            files_.ReleaseReplaced(2);
            files_.FlushReplace(descriptors[i]);
            return true;
        },
        [](std::size_t, bool) {}, [](bool) {}, [this] { view_.KeepAlive(); });
}

}  // namespace dsu::app
