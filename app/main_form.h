// The main window's logic, apart from any toolkit: start-up with its survey
// of skins, and the update run behind "&Update Now".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/view.h"
#include "kuids/folder_kuids.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/work_pool.h"

namespace dsu::app {

inline constexpr char16_t kCaption[] = u"Update SP3 Skins to 1.5";
inline constexpr char16_t kUpdateButtonText[] = u"&Update Now";
inline constexpr char16_t kInitialStatus[] = u"0 Skins need to be updated.";

// The window's layout in pixels at 96 dpi, which each window scales for its
// screen: the client area, the status label's left edge (it is one line,
// centred vertically) and the button.
struct LayoutBox {
    int left, top, width, height;
};
inline constexpr int kClientWidth = 353;
inline constexpr int kClientHeight = 49;
inline constexpr int kLabelLeft = 8;
inline constexpr LayoutBox kButtonBox = {264, 8, 81, 33};
// During long work, the window is repainted at most this often.
inline constexpr int kRepaintIntervalMs = 100;
inline constexpr char16_t kHostAppPathsKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\korvash.exe";
inline constexpr char16_t kPaintAppPathsKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Korvash Dyvenhall.exe";

// Asks the running event (the start-up or the update run) to end at its next
// stop point: before the next skin, never within the final flush. With no
// event running there is nothing to stop, and the request is forgotten: a
// run never starts already stopped. For a closed output. Any thread.
void RequestStop() noexcept;
// The same for an interrupt, a hang-up or a termination, except that with no
// event running it ends the program at once: 1 while there is an update to
// make or after a failure, else 0. Safe in a signal handler on the thread
// that runs the events.
void StopOnSignal() noexcept;
inline constexpr char16_t kStopped[] = u"The update was stopped.";
// Memory ran out on the window's thread: the event ends, as after a failure.
inline constexpr char16_t kNotEnoughMemory[] = u"Not enough memory.";
inline constexpr char16_t kAlreadyRunning[] =
    u"Another Dyvenhall Skin Updater is working on these skins. Let it finish, then try again.";

class frmMain {
  public:
    // The file work runs on pools of threads beside the window's, one that
    // reads and one that writes; all that the user sees happens on the
    // window's thread, in listing order.
    frmMain(platform::FileSystem& files, platform::Registry& registry, View& view,
            std::size_t readThreads = platform::kReadThreads,
            std::size_t writeThreads = platform::kWriteThreads);

    // Start-up: finds both installs, then shows the window and counts the
    // skins at version "1.3". False when the program is to end (see ExitCode).
    bool Load();
    // The click of "&Update Now". False when the program is to end.
    bool UpgradeSkins();

    // 0 while the program runs or after it ended normally; 1 after it ended on
    // a missing install, a failure or a stop before the update was made.
    int ExitCode() const { return exitCode_; }

    const std::u16string& MainPath() const { return mainPath_; }
    const std::u16string& PaintPath() const { return paintPath_; }
    const kuids::colFolderKuids& FolderKuids() const { return folderKuids_; }

  private:
    void SurveySkins();
    // Lets the view paint; never ends the event.
    void KeepAlive();
    // Ends the event with "The update was stopped." when a stop was asked.
    void StopPoint();
    // Runs one event under the ending discipline: a Failure, or memory that
    // runs out, ends it with one error message, and the program with it. The
    // message is shown once the event is over, and a stop asked during the
    // event and not met at a stop point ends the program then.
    template <class Event>
    bool RunEvent(Event&& event);
    // Ends the program once the event is over, with this error message.
    void End(const std::u16string& message);

    platform::FileSystem& files_;
    platform::Registry& registry_;
    View& view_;
    std::u16string mainPath_;
    std::u16string paintPath_;
    kuids::colFolderKuids folderKuids_;
    int exitCode_ = 0;
    bool ended_ = false;
    std::u16string ending_;         // the message End leaves for the event's end
    bool updatePending_ = false;    // skins to update, and no run has made it
    std::shared_ptr<void> claim_;   // the skins folder, while the window lives
    platform::WorkPool readPool_;   // the survey and the scans
    platform::WorkPool writePool_;  // the update run and its flushes
};

}  // namespace dsu::app
