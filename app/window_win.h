// The Win32 main window: a status label and the "&Update Now" button, laid
// out in 96-dpi units and scaled for the monitor it is on.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/view.h"
#include "platform/retry.h"
#include "platform/win32.h"

namespace dsu::app {

class MainWindow final : public View {
  public:
    // Creates the window hidden. `onUpdate` runs on a click of the button.
    MainWindow(HINSTANCE instance, std::function<void()> onUpdate);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Handle() const { return hwnd_; }
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
    std::function<void()> onUpdate_;
};

// Waits for a file held by another program while the window keeps painting,
// as during any long work.
class PaintingClock final : public platform::RetryClock {
  public:
    explicit PaintingClock(MainWindow& window) : window_(window) {}
    std::chrono::milliseconds Now() const override;
    void Wait(std::chrono::milliseconds delay) const override;

  private:
    MainWindow& window_;
};

}  // namespace dsu::app
