#include "app/window_win.h"

#include <algorithm>
#include <utility>

#include "app/main_form.h"
#include "app/resources/resource.h"

namespace dsu::app {

namespace {

constexpr wchar_t kClassName[] = L"DyvenhallSkinUpdaterMain";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr int kLabelId = 100;
constexpr int kButtonId = 101;

// The per-monitor dpi functions came with Windows 10; looked up at run time
// so that older systems still start the program, at the system dpi.
template <class Function>
Function User32Function(const char* name) {
    static HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT WindowDpi(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const Fn getDpiForWindow = User32Function<Fn>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow ? getDpiForWindow(hwnd) : 0;
    return dpi ? dpi : SystemDpi();
}

void AdjustForDpi(RECT& rect, UINT dpi) {
    using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const Fn adjust = User32Function<Fn>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, kStyle, FALSE, kExStyle, dpi)) {
        AdjustWindowRectEx(&rect, kStyle, FALSE, kExStyle);
    }
}

// The system's message font, sized for `dpi`.
HFONT CreateMessageFont(UINT dpi) {
    using Fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const Fn forDpi = User32Function<Fn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return CreateFontIndirectW(&metrics.lfMessageFont);
    }
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        metrics.lfMessageFont.lfHeight = MulDiv(
            metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
        return CreateFontIndirectW(&metrics.lfMessageFont);
    }
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HICON LoadAppIcon(HINSTANCE instance, int sizeMetric) {
    const int size = GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, platform::FileSystem& files,
                       platform::Registry& registry)
    : form_(files, registry, *this) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadAppIcon(instance, SM_CXICON);
    windowClass.hIconSm = LoadAppIcon(instance, SM_CXSMICON);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);

    CreateWindowExW(kExStyle, kClassName, platform::Wide(kCaption), kStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
    if (!hwnd_) return;

    // Creation order is the tab order: the label, then the button.
    label_ =
        CreateWindowExW(0, L"STATIC", platform::Wide(kInitialStatus),
                        WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0, 0, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)), instance, nullptr);
    button_ = CreateWindowExW(0, L"BUTTON", platform::Wide(kUpdateButtonText),
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), instance,
                              nullptr);
    ApplyDpi(WindowDpi(hwnd_), nullptr);
}

MainWindow::~MainWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
    if (font_) DeleteObject(font_);
}

int MainWindow::Scale(int value) const { return MulDiv(value, static_cast<int>(dpi_), 96); }

void MainWindow::ApplyDpi(UINT dpi, const RECT* suggested) {
    dpi_ = dpi;
    HFONT old = font_;
    font_ = CreateMessageFont(dpi);
    SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    SendMessageW(button_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    if (old) DeleteObject(old);

    SetWindowPos(button_, nullptr, Scale(kButtonBox.left), Scale(kButtonBox.top),
                 Scale(kButtonBox.left + kButtonBox.width) - Scale(kButtonBox.left),
                 Scale(kButtonBox.top + kButtonBox.height) - Scale(kButtonBox.top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceLabel();

    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    AdjustForDpi(frame, dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int left = 0;
    int top = 0;
    if (suggested) {
        left = suggested->left;
        top = suggested->top;
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& screen = monitor.rcMonitor;
        left = screen.left + (screen.right - screen.left - width) / 2;
        top = screen.top + (screen.bottom - screen.top - height) / 2;
    }
    SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::PlaceLabel() {
    // One line, as wide as its text; its left edge stays put.
    const std::wstring text = WindowText(label_);
    HDC dc = GetDC(label_);
    HGDIOBJ previous = SelectObject(dc, font_);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    RECT extent{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, previous);
    ReleaseDC(label_, dc);

    const int height = metrics.tmHeight;
    SetWindowPos(label_, nullptr, Scale(kLabelLeft), (Scale(kClientHeight) - height) / 2,
                 extent.right - extent.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::SetStatus(const std::u16string& text) {
    SetWindowTextW(label_, platform::Wide(text));
    PlaceLabel();
}

void MainWindow::Repaint() {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    lastKeepAlive_ = 0;
    KeepAlive();
}

void MainWindow::KeepAlive() {
    // Only the window's thread can paint it; a worker's file waits pass by.
    if (GetCurrentThreadId() != thread_) return;
    const ULONGLONG now = GetTickCount64();
    if (lastKeepAlive_ != 0 && now - lastKeepAlive_ < static_cast<ULONGLONG>(kRepaintIntervalMs))
        return;
    lastKeepAlive_ = now;
    // Only paint messages: input waits until the work is done. A window
    // whose painting never validates could keep this going, hence the bound.
    MSG msg;
    for (int i = 0; i < 64 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT); ++i) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        DispatchMessageW(&msg);
    }
}

std::chrono::milliseconds PaintingClock::Now() const { return platform::SystemRetryClock().Now(); }

void PaintingClock::Wait(std::chrono::milliseconds delay) const {
    const std::chrono::milliseconds end = Now() + delay;
    for (std::chrono::milliseconds left = delay; left.count() > 0; left = end - Now()) {
        Sleep(static_cast<DWORD>(std::min<long long>(left.count(), kRepaintIntervalMs)));
        if (window_) window_->KeepAlive();
    }
}

void MainWindow::Show() {
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    if (IsWindowEnabled(button_)) SetFocus(button_);
    shown_ = true;
}

void MainWindow::DisableUpdate() {
    updateDisabled_ = true;
    EnableWindow(button_, FALSE);
}

void MainWindow::ShowMessage(const std::u16string& text, platform::MessageKind kind) {
    UINT type = MB_OK | (kind == platform::MessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    HWND owner = shown_ && !closed_ ? hwnd_ : nullptr;
    if (!owner) type |= MB_SETFOREGROUND;
    MessageBoxW(owner, platform::Wide(text), platform::Wide(platform::kMessageTitle), type);
}

void MainWindow::Close() {
    // The event that closes the window is still running; the message loop
    // ends once it returns.
    closed_ = true;
    ShowWindow(hwnd_, SW_HIDE);
    PostQuitMessage(0);
}

void MainWindow::RunMessageLoop() {
    MSG msg;
    while (!closed_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(hwnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void MainWindow::OnUpdateClicked() {
    if (running_ || closed_ || updateDisabled_) return;
    running_ = true;
    // The run holds the thread; the button stays out of reach meanwhile.
    EnableWindow(button_, FALSE);
    form_.UpgradeSkins();
    if (!updateDisabled_ && !closed_) EnableWindow(button_, TRUE);
    running_ = false;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
                OnUpdateClicked();
                return 0;
            }
            break;
        case WM_ACTIVATE:
            // Not a dialog: keyboard focus has to be kept across activation here.
            if (LOWORD(wParam) == WA_INACTIVE) {
                focus_ = GetFocus();
            } else {
                HWND target = focus_ && IsChild(hwnd_, focus_) ? focus_ : button_;
                if (IsWindowEnabled(target)) SetFocus(target);
            }
            return 0;
        case WM_DPICHANGED:
            ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_DESTROY:
            if (!closed_) {
                closed_ = true;
                PostQuitMessage(0);
            }
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace dsu::app
