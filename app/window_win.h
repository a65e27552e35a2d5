// The Win32 main window: a status label and the "&Update Now" button, laid
// out in 96-dpi units and scaled for the monitor it is on.
#pragma once

#include <chrono>
#include <string>

#include "app/main_form.h"
#include "app/view.h"
#include "platform/retry.h"
#include "platform/win32.h"

namespace dsu::app {

class MainWindow final : public View {
  public:
    // Creates the window hidden, with its frmMain on `files` and `registry`.
    MainWindow(HINSTANCE instance, platform::FileSystem& files, platform::Registry& registry);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    // Start-up; false when the program is to end at once.
    bool Load() { return form_.Load(); }
    int ExitCode() const { return form_.ExitCode(); }
    // Runs the message loop until the window closes.
    void RunMessageLoop();

    void SetStatus(const std::u16string& text) override;
    void Repaint() override;
    void KeepAlive() override;
    void Show() override;
    void DisableUpdate() override;
    void ShowMessage(const std::u16string& text, platform::MessageKind kind) override;
    void Close() override;

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    int Scale(int value) const;
    // Takes the system's message font for the current dpi, lays the children
    // out and sizes the window around a client area of kClientWidth x kClientHeight.
    void ApplyDpi(UINT dpi, const RECT* suggested);
    void PlaceLabel();
    void OnUpdateClicked();

    HWND hwnd_ = nullptr;
    HWND label_ = nullptr;
    HWND button_ = nullptr;
    HWND focus_ = nullptr;
    HFONT font_ = nullptr;
    UINT dpi_ = 96;
    bool shown_ = false;
    bool closed_ = false;
    bool running_ = false;
    bool updateDisabled_ = false;
    ULONGLONG lastKeepAlive_ = 0;
    const DWORD thread_ = GetCurrentThreadId();
    frmMain form_;
};

// Waits for a file held by another program while the window keeps painting,
// as during any long work. It is made before the window, whose file services
// wait through it, and is given the window before any file work starts.
class PaintingClock final : public platform::RetryClock {
  public:
    void PaintWhileWaiting(MainWindow& window) { window_ = &window; }
    std::chrono::milliseconds Now() const override;
    void Wait(std::chrono::milliseconds delay) const override;

  private:
    MainWindow* window_ = nullptr;
};

}  // namespace dsu::app
