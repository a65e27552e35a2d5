#include "app/main_form.h"

#include <csignal>
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
volatile std::sig_atomic_t stopRequested = 0;
}  // namespace

void RequestStop() noexcept { stopRequested = 1; }

void frmMain::KeepAlive() {
    view_.KeepAlive();
    if (stopRequested != 0) throw platform::Failure(kStopped);
}

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
    } catch (const std::bad_alloc&) {
        End(kNotEnoughMemory);
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
        [](bool) {}, [this] { KeepAlive(); });

    view_.SetStatus(platform::DecimalText(static_cast<long long>(count)) +
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
        const auto keepAlive = [this] { KeepAlive(); };
        kuids::ScanFolderKuids(files_, folderKuids_, paintPath_ + u"Skins", readPool_, keepAlive);
        kuids::ScanFolderKuids(files_, folderKuids_, mainPath_ + u"World\\dispatcher\\downloads",
                               readPool_, keepAlive);
        kuids::ScanFolderKuids(files_, folderKuids_, mainPath_ + kSkinsFolder, readPool_,
                               keepAlive);

        view_.SetStatus(u"Upgrading Sp3 Skins...");
        KeepAlive();
        skins::UpgradeSkinDescriptors(files_, folderKuids_, view_, writePool_,
                                      files_.ListSubfolders(mainPath_ + kSkinsFolder), keepAlive);

        view_.SetStatus(u"Skins have been upgraded.");
        view_.ShowMessage(u"Skins have been upgraded.", MessageKind::Information);
        view_.DisableUpdate();
    });
}

}  // namespace dsu::app
