// The real program under Wine, driven through the Win32 API as a user would:
// installs in a temporary folder, App Paths values written with reg.exe, and
// the window, its label, its button and its message boxes found and used.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/win32.h"
#include "tests/support/front_install.h"
#include "tests/support/temp_folder.h"

namespace dsu::testing {
namespace {

using namespace std::string_literals;

constexpr wchar_t kCaption[] = L"Update SP3 Skins to 1.5";
constexpr wchar_t kTitle[] = L"Dyvenhall Skin Updater";
constexpr wchar_t kAppPaths[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr wchar_t kHostKey[] = L"korvash.exe";
constexpr wchar_t kPaintKey[] = L"Korvash Dyvenhall.exe";
// Generous: every wait polls and returns as soon as its condition holds, and
// Wine starts processes slowly while other tests load the machine.
constexpr DWORD kDeadlineMs = 60000;

std::wstring Wide(const std::u16string& text) { return {text.begin(), text.end()}; }
std::wstring Wide(const std::string& utf8) { return Wide(platform::FromUtf8(utf8)); }

// A host path as Wine shows it.
std::wstring WindowsPath(const std::string& host) {
    std::wstring path = L"Z:";
    for (const char c : host) path += c == '/' ? L'\\' : wchar_t(c);
    return path;
}

// The program this build made, or the one named by DSU_PROGRAM (a host path),
// such as the .exe unpacked from the release ZIP.
std::wstring ProgramPath() {
    const char* named = std::getenv("DSU_PROGRAM");
    return WindowsPath(named != nullptr && *named != '\0' ? named : DSU_PROGRAM);
}

// Polls `condition` until it holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, DWORD deadlineMs = kDeadlineMs) {
    const ULONGLONG end = GetTickCount64() + deadlineMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() > end) return false;
        Sleep(10);
    }
}

std::wstring Text(HWND hwnd) {
    wchar_t buffer[1024] = {};
    // WM_GETTEXT crosses into the other process; GetWindowText would not.
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK, 5000,
                        nullptr);
    return buffer;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

// Starts a program, with no console window unless `flags` say otherwise; null
// when it could not be started.
HANDLE Start(std::wstring commandLine, DWORD flags = CREATE_NO_WINDOW) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Waits for a started program to end; its exit code.
DWORD Finish(HANDLE process) {
    if (!process) return 0x80000000u;
    WaitForSingleObject(process, 60000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

// Sets the App Paths value "Path" of both keys, in the 32-bit view as a 32-bit
// installer writes it, or deletes a key that is given no value; true when each
// value given was written.
using AppPath = std::optional<std::wstring>;
bool SetAppPaths(const AppPath& host, const AppPath& paint) {
    const auto start = [](const wchar_t* key, const AppPath& value) {
        const std::wstring name = L"\""s + kAppPaths + key + L"\"";
        if (!value) return Start(L"reg.exe delete " + name + L" /f /reg:32");
        return Start(L"reg.exe add " + name + L" /v Path /t REG_SZ /d \"" + *value +
                     L"\" /f /reg:32");
    };
    // Side by side: each reg.exe takes a while to start under Wine.
    HANDLE hostReg = start(kHostKey, host);
    HANDLE paintReg = start(kPaintKey, paint);
    const DWORD hostCode = Finish(hostReg);
    const DWORD paintCode = Finish(paintReg);
    return (!host || hostCode == 0) && (!paint || paintCode == 0);
}

// The top-level windows of a process, of one class or any (null).
std::vector<HWND> TopLevelWindows(DWORD processId, const wchar_t* className, bool visibleOnly) {
    std::vector<HWND> found;
    for (HWND hwnd = nullptr; (hwnd = FindWindowExW(nullptr, hwnd, className, nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == processId && (!visibleOnly || IsWindowVisible(hwnd))) found.push_back(hwnd);
    }
    return found;
}

enum class Icon { Error, Information, Unknown };

// The icon shown by a message box, told apart by its pixels: the system's
// error and information icons are drawn beside the box's own icon control
// and the closest wins. Icon handles cannot be compared across processes.
Icon IconOf(HWND box) {
    const auto isIcon = [](HWND child) {
        return (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
               ClassOf(child).find(L"tatic") != std::wstring::npos;
    };
    HWND control = GetWindow(box, GW_CHILD);
    while (control && !isIcon(control)) control = GetWindow(control, GW_HWNDNEXT);
    if (!control) return Icon::Unknown;
    RECT rect;
    GetWindowRect(control, &rect);
    const int size = GetSystemMetrics(SM_CXICON);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const auto* drawn = static_cast<const std::uint32_t*>(bits);
    BitBlt(memory, 0, 0, size, size, screen, rect.left, rect.top, SRCCOPY);
    const std::vector<std::uint32_t> shown(drawn, drawn + size * size);
    const COLORREF background = GetPixel(memory, 0, 0);
    auto distance = [&](LPCWSTR id) {
        HBRUSH brush = CreateSolidBrush(background);
        RECT all{0, 0, size, size};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, LoadIconW(nullptr, id), size, size, 0, nullptr, DI_NORMAL);
        long long total = 0;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            for (int shift = 0; shift < 24; shift += 8) {
                total += std::abs(int((drawn[i] >> shift) & 255) - int((shown[i] >> shift) & 255));
            }
        }
        return total;
    };
    const long long error = distance(IDI_ERROR);
    const long long information = distance(IDI_INFORMATION);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (error * 4 < information) return Icon::Error;
    if (information * 4 < error) return Icon::Information;
    return Icon::Unknown;
}

struct Message {
    std::wstring title;
    std::wstring text;
    Icon icon;
    HWND owner;
};

// The program, started with no command line, and ended when the test ends.
class Program {
  public:
    Program() : process_(Start(L"\"" + ProgramPath() + L"\"", 0)) {}
    ~Program() {
        if (!process_) return;
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return GetProcessId(process_); }

    // The main window, found by its caption, if it exists right now (shown,
    // when `visible`).
    HWND WindowNow(bool visible = false) const {
        for (HWND hwnd : TopLevelWindows(Id(), nullptr, visible)) {
            if (Text(hwnd) == kCaption) return hwnd;
        }
        return nullptr;
    }
    // The shown main window; null when it never appeared.
    HWND Window() const {
        HWND window = nullptr;
        WaitFor([&] { return (window = WindowNow(true)) != nullptr; });
        return window;
    }

    // Waits for the next message box, reads it and presses its OK button.
    std::optional<Message> AnswerMessage() const {
        HWND box = nullptr;
        if (!WaitFor([&] {
                const auto boxes = TopLevelWindows(Id(), L"#32770", true);
                box = boxes.empty() ? nullptr : boxes.front();
                return box != nullptr;
            }))
            return std::nullopt;
        Message message{Text(box), L"", Icon::Unknown, GetWindow(box, GW_OWNER)};
        WaitFor([&] {
            message.text = Text(GetDlgItem(box, 0xFFFF));
            return !message.text.empty();
        });
        // The box may not be on the screen yet: wait until its icon can be told.
        WaitFor([&] { return (message.icon = IconOf(box)) != Icon::Unknown; }, 5000);
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        WaitFor([&] { return !IsWindow(box); });
        return message;
    }

    // Its exit code once it has ended; none when it does not end in time.
    std::optional<DWORD> ExitCode() const {
        if (WaitForSingleObject(process_, kDeadlineMs) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return code;
    }

  private:
    HANDLE process_ = nullptr;
};

// FullInstall's a_gp38 and c_sd40, before and after the update.
constexpr char kGp38Old[] = "1.3\r\nGP38\\Body\r\npainter=1\r\ncolour=FF00FF\r\n";
constexpr char kGp38New[] =
    "1.5\r\n<kuid2:1:1000:1>\\<kuid:1:100>\r\npainter=1\r\ncolour=FF00FF\r\n";
constexpr char kSd40Old[] = "1.3\r\nsd40\\Cab\r\nx=1\r\n";
constexpr char kSd40New[] = "1.5\r\n<kuid2:1:1001:1>\\<kuid:1:200>\r\nx=1\r\n";

// Template skins, content folders and skins for a full update run beside
// FrontInstall's, where it keeps them: two missing kuids among four skins to
// update, one already at 1.5 and a folder without skin.dat.
install::Tree FullInstall() {
    const std::string skins = "GAMES/Dyvenhall/SKINS/";
    const std::string downloads = "GAMES/Korvash/world/DISPATCHER/downloads/";
    const std::string trains = "GAMES/Korvash/world/custom/TRAINS/";
    return {
        {skins + "gp38/config.txt", "username \"gp38\"\r\nkuid <kuid:1:100>\r\n"},
        {skins + "gp38/body.tga", std::string("\x00\x01\xff\r\n\x1a", 6)},
        {skins + "gp38/textures/body.texture.txt", "Primary=\"body.tga\"\r\n"},
        {skins + "sd40/config.txt", "kuid <kuid:1:200>\r\n"},
        {downloads + "gp38_hi_dyn_Body/config.txt", "kind \"mesh\"\r\n  KUID <kuid2:1:1000:1>\r\n"},
        {downloads + "sd40_Cab/config.txt", "kuid <kuid2:1:1001:1>\r\n"},
        {trains + "a_gp38/skin.dat", kGp38Old},
        {trains + "b_es44/skin.dat", "1.3\r\nes44\\Body\r\npainter=2\r\n"},
        {trains + "c_sd40/skin.dat", kSd40Old},
        {trains + "d_sd40_roof/skin.dat", "1.3\r\nsd40\\Roof\r\n"},
        {trains + "e_done/skin.dat", "1.5\r\nsd40\\Cab\r\n"},
        {trains + "f_no_dat/config.txt", "kuid <kuid:2:1>\r\n"},
    };
}

// A skin.dat of FullInstall's or FrontInstall's, relative to their root.
std::u16string SkinDat(std::u16string_view skin) {
    return kFrontTrains + std::u16string(skin) + u"/skin.dat";
}

// The two installs laid out below one temporary folder.
class Installs {
  public:
    explicit Installs(const install::Tree& files) { install::WriteTree(files, temp_.Root()); }
    std::wstring Host() const { return Wide(temp_.Path(u"GAMES\\Korvash")); }
    std::wstring Paint() const { return Wide(temp_.Path(u"GAMES\\Dyvenhall")); }
    std::string Read(const std::u16string& relative) const { return temp_.Read(relative); }
    bool Exists(const std::u16string& relative) const { return temp_.Exists(relative); }
    std::string SkinDat(std::u16string_view skin) const { return Read(testing::SkinDat(skin)); }
    // A file below the trains folder, in the letter case the program writes.
    std::wstring Trains(const std::wstring& file) const {
        return Host() + L"\\World\\Custom\\Trains\\" + file;
    }

  private:
    TempFolder temp_;
};

// The main window's label and button, in their creation order.
HWND Label(HWND window) { return GetWindow(window, GW_CHILD); }
HWND Button(HWND window) { return GetWindow(Label(window), GW_HWNDNEXT); }

class ProgramTest : public ::testing::Test {
  protected:
    void TearDown() override {
        program.reset();
        SetAppPaths(std::nullopt, std::nullopt);
    }
    // Lays out `files`, sets both keys (a value, or no key at all) and starts
    // the program.
    void Launch(const install::Tree& files, bool host = true, bool paint = true) {
        installs.emplace(files);
        EXPECT_TRUE(SetAppPaths(host ? AppPath(installs->Host()) : std::nullopt,
                                paint ? AppPath(installs->Paint()) : std::nullopt))
            << "reg.exe add failed";
        program.emplace();
        ASSERT_TRUE(program->Started());
    }
    // Launch, then the window once its label reads `status`; null when it
    // does not appear or read so.
    HWND Start(const install::Tree& files, const std::wstring& status) {
        Launch(files);
        HWND window = program ? program->Window() : nullptr;
        return window && LabelReads(window, status) ? window : nullptr;
    }
    static bool LabelReads(HWND window, const std::wstring& text) {
        return WaitFor([&] { return Text(Label(window)) == text; });
    }
    // Answers the next message box, which must be the program's, owned by
    // `window`, with `icon`, and read `text`, followed by the system's reason
    // for a failure when `reason`.
    void Answer(HWND window, Icon icon, const std::wstring& text, bool reason = false) const {
        const auto message = program->AnswerMessage();
        ASSERT_TRUE(message) << "no message: " << text;
        EXPECT_EQ(message->title, kTitle);
        EXPECT_EQ(reason ? message->text.substr(0, text.size()) : message->text, text);
        EXPECT_TRUE(!reason || message->text.size() > text.size()) << "no reason given";
        EXPECT_EQ(message->icon, icon);
        EXPECT_EQ(message->owner, window);
    }

    std::optional<Installs> installs;
    std::optional<Program> program;
};

// Start-ups that end with one error before the window is ever shown.
TEST_F(ProgramTest, ShowsOneErrorAndEndsBeforeTheWindowIsShown) {
    const wchar_t* const noTrains = L"Trains could not be found.  You may have to reinstall.";
    struct Case {
        const char* name;
        bool host;
        bool paint;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"Both", false, false, noTrains},
        {"Trains", false, true, noTrains},
        {"Dyvenhall", true, false, L"Dyvenhall could not be found.  You may have to reinstall."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Launch(FrontInstall(), c.host, c.paint);

        Answer(nullptr, Icon::Error, c.message);
        if (HWND window = program->WindowNow()) {
            EXPECT_FALSE(IsWindowVisible(window));
        }

        EXPECT_EQ(program->ExitCode(), 1u);
        EXPECT_EQ(installs->SkinDat(u"a"),
                  FrontInstall().at("GAMES/Korvash/world/custom/TRAINS/a/skin.dat"));
    }
}

TEST_F(ProgramTest, CountsNoSkinsAndDisablesTheButton) {
    install::Tree files = FullInstall();
    const std::string trains = "GAMES/Korvash/world/custom/TRAINS/";
    files[trains + "a_gp38/skin.dat"] = "1.5\r\nGP38\\Body\r\n";
    files[trains + "b_es44/skin.dat"] = "1.4\r\n";
    files[trains + "c_sd40/skin.dat"] = "1.3 \r\nsd40\\Cab\r\n";
    files[trains + "d_sd40_roof/skin.dat"] = "\n1.3\r\n";
    HWND window = Start(files, L"0 Skins need to be updated.");
    ASSERT_TRUE(window);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowEnabled(Button(window)); }));

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->ExitCode(), 0u);
    EXPECT_FALSE(installs->Exists(u"GAMES/Dyvenhall/SKINS/gp38_hi_dyn"));
}

// The run of the front ends' transcript: its message boxes, owned by the
// window and answered, the status that stays, and the button left disabled.
TEST_F(ProgramTest, AnUpdateRunShowsItsTranscript) {
    HWND window = Start(FrontInstall(), Wide(LastStatus(FrontStartUp())));
    ASSERT_TRUE(window);
    ASSERT_TRUE(IsWindowEnabled(Button(window)));

    PostMessageW(Button(window), BM_CLICK, 0, 0);

    for (const Shown& want : Messages(FrontRun())) {
        Answer(window, want.kind == Shown::Error ? Icon::Error : Icon::Information,
               Wide(want.text));
    }
    EXPECT_TRUE(LabelReads(window, Wide(LastStatus(FrontRun()))));
    EXPECT_FALSE(IsWindowEnabled(Button(window)));
    ASSERT_TRUE(IsWindowVisible(window));

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->ExitCode(), 0u);

    EXPECT_EQ(installs->SkinDat(u"a"), kFrontUpgradedA);
    EXPECT_FALSE(installs->Exists(SkinDat(u"a") + u".tmp"));
    EXPECT_EQ(installs->Read(u"GAMES/Dyvenhall/SKINS/gp38_hi_dyn/body.tga"), "body");
}

TEST_F(ProgramTest, EndsTheRunOnAFailedWrite) {
    struct Case {
        const char* name;
        bool readOnly;  // c_sd40's skin.dat, which Windows does not replace
        std::wstring failed;
    };
    const Case cases[] = {
        {"a folder in the way of the temporary", false, L"Could not create "},
        {"a read-only skin.dat", true, L"Could not replace "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        install::Tree files = FullInstall();
        // A folder where c_sd40's temporary goes, so that it cannot be made;
        // and an old temporary in a later skin, which must stay as it is.
        if (!c.readOnly)
            files["GAMES/Korvash/world/custom/TRAINS/c_sd40/skin.dat.tmp"] = std::nullopt;
        files["GAMES/Korvash/world/custom/TRAINS/d_sd40_roof/skin.dat.tmp"] = "an old temporary";
        HWND window = Start(files, L"4 Skins need to be updated.");
        ASSERT_TRUE(window);
        const std::wstring descriptor = installs->Trains(L"c_sd40\\skin.dat");
        if (c.readOnly) {
            ASSERT_TRUE(SetFileAttributesW(descriptor.c_str(), FILE_ATTRIBUTE_READONLY));
        }

        PostMessageW(Button(window), BM_CLICK, 0, 0);

        Answer(window, Icon::Error, L"Could not find a kuid for es44\r\nb_es44 not upgraded.");
        Answer(window, Icon::Error,
               c.failed +
                   installs->Trains(c.readOnly ? L"c_sd40\\skin.dat" : L"c_sd40\\skin.dat.tmp") +
                   L": ",
               true);

        EXPECT_EQ(program->ExitCode(), 1u);
        const DWORD attributes = GetFileAttributesW(descriptor.c_str());
        SetFileAttributesW(descriptor.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, c.readOnly);
        EXPECT_EQ(installs->SkinDat(u"a_gp38"), kGp38New);
        EXPECT_EQ(installs->SkinDat(u"c_sd40"), kSd40Old);
        EXPECT_EQ(installs->SkinDat(u"d_sd40_roof"), "1.3\r\nsd40\\Roof\r\n");
        EXPECT_EQ(installs->Read(SkinDat(u"d_sd40_roof") + u".tmp"), "an old temporary");
        if (c.readOnly) {
            EXPECT_FALSE(installs->Exists(SkinDat(u"c_sd40") + u".tmp"));
        }
    }
}

TEST_F(ProgramTest, EndsOnAnEmptySkinDescriptorAtStartUp) {
    install::Tree files = FullInstall();
    files["GAMES/Korvash/world/custom/TRAINS/c_sd40/skin.dat"] = "";
    Launch(files);

    const auto message = program->AnswerMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text, L"Could not read " + installs->Trains(L"c_sd40\\skin.dat") +
                                 L": Reached the end of the file.");
    EXPECT_EQ(message->icon, Icon::Error);
    EXPECT_EQ(program->ExitCode(), 1u);
    EXPECT_EQ(installs->SkinDat(u"a_gp38"), kGp38Old);
    EXPECT_EQ(installs->SkinDat(u"c_sd40"), "");
}

// The client area and the controls, in the window's pixels: the 96-dpi
// layout scaled with MulDiv(v, dpi, 96).
void ExpectLayoutAt(HWND window, int dpi) {
    const auto scaled = [dpi](int v) { return MulDiv(v, dpi, 96); };
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, scaled(353));
    EXPECT_EQ(client.bottom, scaled(49));

    const auto childRect = [&](HWND child) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    const RECT button = childRect(Button(window));
    EXPECT_EQ(button.left, scaled(264));
    EXPECT_EQ(button.top, scaled(8));
    EXPECT_EQ(button.right, scaled(264 + 81));
    EXPECT_EQ(button.bottom, scaled(8 + 33));

    // One line, at the left margin and centred from top to bottom.
    const RECT label = childRect(Label(window));
    EXPECT_EQ(label.left, scaled(8));
    EXPECT_LE(std::abs(label.top + label.bottom - client.bottom), 1)
        << label.top << ".." << label.bottom;
    EXPECT_GT(label.right - label.left, scaled(50));
}

TEST_F(ProgramTest, WindowLayoutAt96Dpi) {
    HWND window = Start(FullInstall(), L"4 Skins need to be updated.");
    ASSERT_TRUE(window);

    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

    ExpectLayoutAt(window, 96);
    EXPECT_EQ(Text(Button(window)), L"&Update Now");

    // Centred on the screen.
    RECT frame;
    GetWindowRect(window, &frame);
    EXPECT_LE(std::abs(frame.left + frame.right - GetSystemMetrics(SM_CXSCREEN)), 1);
    EXPECT_LE(std::abs(frame.top + frame.bottom - GetSystemMetrics(SM_CYSCREEN)), 1);

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->ExitCode(), 0u);
}

TEST_F(ProgramTest, ScalesItsLayoutWithTheDpi) {
    // Aware of the dpi, so that Wine reports the program's own pixels.
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

    // The system dpi the program reads at its start; the prefix is back at 96
    // dpi once it has started.
    const auto reg = [](const wchar_t* verb, const wchar_t* data) {
        return Finish(testing::Start(L"reg.exe "s + verb +
                                     LR"( "HKCU\Control Panel\Desktop" /v LogPixels /f)" + data));
    };
    ASSERT_EQ(reg(L"add", L" /t REG_DWORD /d 144"), 0u);
    HWND window = Start(FullInstall(), L"4 Skins need to be updated.");
    reg(L"delete", L"");
    ASSERT_TRUE(window);

    ExpectLayoutAt(window, 144);

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->ExitCode(), 0u);
}

// FullInstall for a run without kuid messages: a_gp38 first, then c_sd40.
install::Tree TwoSkinRun() {
    install::Tree files = FullInstall();
    files["GAMES/Korvash/world/custom/TRAINS/b_es44/skin.dat"] = "1.5\r\n";
    files["GAMES/Korvash/world/custom/TRAINS/d_sd40_roof/skin.dat"] = "1.5\r\n";
    return files;
}

TEST_F(ProgramTest, TabOrderAndAltUStartTheUpdate) {
    HWND window = Start(TwoSkinRun(), L"2 Skins need to be updated.");
    ASSERT_TRUE(window);

    // The label comes first, the button next and is the one tab stop.
    EXPECT_NE(ClassOf(Label(window)).find(L"tatic"), std::wstring::npos);
    EXPECT_NE(ClassOf(Button(window)).find(L"utton"), std::wstring::npos);
    EXPECT_EQ(GetNextDlgTabItem(window, nullptr, FALSE), Button(window));
    EXPECT_EQ(GetNextDlgTabItem(window, Button(window), FALSE), Button(window));

    // Alt+U, as the keyboard delivers it to the focused window.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    ASSERT_TRUE(WaitFor([&] {
        return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui) &&
               gui.hwndFocus != nullptr;
    }));
    EXPECT_EQ(gui.hwndFocus, Button(window));
    PostMessageW(gui.hwndFocus, WM_SYSKEYDOWN, 'U', 0x20000001 | (MapVirtualKeyW('U', 0) << 16));

    Answer(window, Icon::Information, L"Skins have been upgraded.");
    EXPECT_FALSE(IsWindowEnabled(Button(window)));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->ExitCode(), 0u);
    EXPECT_EQ(installs->SkinDat(u"c_sd40"), kSd40New);
}

// Another program holding a file for a while (tests/e2e/hold_file_win.cpp),
// ended with the test at the latest.
class Holder {
  public:
    Holder(const std::wstring& path, DWORD holdMs, bool shareRead = false) {
        static int count = 0;
        const std::wstring name =
            L"dsu-hold-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
        signal_ = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        process_ =
            Start(L"\"" + WindowsPath(DSU_HOLD_FILE) + L"\" \"" + path + L"\" " +
                  std::to_wstring(holdMs) + L" " + name + (shareRead ? L" --share-read" : L""));
    }
    ~Holder() {
        if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_, 99);
        Released();
        CloseHandle(signal_);
    }
    // Waits until it holds the file.
    bool Holding() const {
        const HANDLE both[] = {signal_, process_};
        return process_ && WaitForMultipleObjects(2, both, FALSE, kDeadlineMs) == WAIT_OBJECT_0;
    }
    // Its exit code once it has let go: 0 when it held the file.
    DWORD Released() { return Finish(std::exchange(process_, nullptr)); }

  private:
    HANDLE signal_ = nullptr;
    HANDLE process_ = nullptr;
};

// Another program holds a file of the first skin for 300 ms while the run
// reaches it: the run waits and finishes as usual. The skin.dat.tmp is there
// beforehand, as an interrupted run leaves it: the run's own new file cannot
// be taken from it reliably, as it is unheld for microseconds only.
TEST_F(ProgramTest, WaitsForAHeldFileAndFinishesTheRun) {
    for (const std::string file : {"skin.dat", "skin.dat.tmp"}) {
        SCOPED_TRACE(file);
        install::Tree files = TwoSkinRun();
        if (file == "skin.dat.tmp")
            files["GAMES/Korvash/world/custom/TRAINS/a_gp38/skin.dat.tmp"] = "1.5\r\ninterrupted";
        HWND window = Start(files, L"2 Skins need to be updated.");
        ASSERT_TRUE(window);

        Holder holder(installs->Trains(L"a_gp38\\" + std::wstring(file.begin(), file.end())), 300);
        ASSERT_TRUE(holder.Holding());
        PostMessageW(Button(window), BM_CLICK, 0, 0);

        Answer(window, Icon::Information, L"Skins have been upgraded.");
        EXPECT_EQ(holder.Released(), 0u);
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(program->ExitCode(), 0u);
        EXPECT_EQ(installs->SkinDat(u"a_gp38"), kGp38New);
        EXPECT_EQ(installs->SkinDat(u"c_sd40"), kSd40New);
        EXPECT_FALSE(installs->Exists(SkinDat(u"a_gp38") + u".tmp"));
    }
}

// A descriptor held past the limit, by a program that lets others read it
// but not replace it: the run ends at its replace, as it did before waiting.
TEST_F(ProgramTest, EndsTheRunOnADescriptorHeldPastTheLimit) {
    HWND window = Start(TwoSkinRun(), L"2 Skins need to be updated.");
    ASSERT_TRUE(window);

    // Held until the test ends, which is just past the limit.
    Holder holder(installs->Trains(L"c_sd40\\skin.dat"), kDeadlineMs, true);
    ASSERT_TRUE(holder.Holding());
    PostMessageW(Button(window), BM_CLICK, 0, 0);

    Answer(window, Icon::Error,
           L"Could not replace " + installs->Trains(L"c_sd40\\skin.dat") + L": ", true);
    EXPECT_EQ(program->ExitCode(), 1u);

    EXPECT_EQ(installs->SkinDat(u"a_gp38"), kGp38New);
    EXPECT_EQ(installs->SkinDat(u"c_sd40"), kSd40Old);
    EXPECT_EQ(installs->SkinDat(u"b_es44"), "1.5\r\n");
    EXPECT_EQ(installs->SkinDat(u"d_sd40_roof"), "1.5\r\n");
    EXPECT_FALSE(installs->Exists(SkinDat(u"c_sd40") + u".tmp"));
}

// The .exe's own resources, which Windows and Explorer read without running it.
class ProgramFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    std::string Resource(LPCWSTR name, LPCWSTR type) const {
        const HRSRC found = FindResourceW(module_, name, type);
        if (found == nullptr) return {};
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return data == nullptr ? std::string() : std::string(data, SizeofResource(module_, found));
    }
    HMODULE module_ = nullptr;
};

TEST_F(ProgramFileTest, CarriesTheProjectVersion) {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    const auto query = [&](const std::wstring& name) -> void* {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueW(info.data(), name.c_str(), &value, &length) && length > 0 ? value
                                                                                        : nullptr;
    };
    const auto text = [&](const wchar_t* name) {
        const auto* value =
            static_cast<const wchar_t*>(query(L"\\StringFileInfo\\040904B0\\"s + name));
        return value != nullptr ? std::wstring(value) : std::wstring(L"(none)");
    };

    const std::wstring expected = Wide(std::string(DSU_VERSION ".0"));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                  std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                  std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                  std::to_wstring(LOWORD(fixed->dwFileVersionLS)),
              expected);
    EXPECT_EQ(text(L"FileVersion"), expected);
    EXPECT_EQ(text(L"ProductVersion"), expected);
    EXPECT_EQ(text(L"FileDescription"), L"Dyvenhall Skin Updater");
    EXPECT_EQ(text(L"OriginalFilename"), L"DyvenhallSkinUpdater.exe");
    // CarriesItsManifest finds the same version in the manifest.
}

TEST_F(ProgramFileTest, CarriesItsIconAtEverySizeExplorerShows) {
    const std::string group = Resource(MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    for (const int size : {16, 32, 48, 256}) {
        SCOPED_TRACE(size);
        const int id =
            LookupIconIdFromDirectoryEx(reinterpret_cast<PBYTE>(const_cast<char*>(group.data())),
                                        TRUE, size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0);
        std::string image = Resource(MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_FALSE(image.empty());
        // Desired size 0: the image's own size, so one scaled from another
        // size does not pass.
        const HICON icon =
            CreateIconFromResourceEx(reinterpret_cast<PBYTE>(image.data()), DWORD(image.size()),
                                     TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr);
        ICONINFO parts{};
        ASSERT_TRUE(GetIconInfo(icon, &parts));
        BITMAP bitmap{};
        GetObjectW(parts.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);
        DeleteObject(parts.hbmColor);
        DeleteObject(parts.hbmMask);
        DestroyIcon(icon);
    }
}

TEST_F(ProgramFileTest, CarriesItsManifest) {
    const std::string manifest = Resource(MAKEINTRESOURCEW(1), RT_MANIFEST);
    for (const char* part :
         {"name=\"Dyvenhall.SkinUpdater\" version=\"" DSU_VERSION ".0\"",
          "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "<requestedExecutionLevel level=\"asInvoker\"", ">PerMonitorV2, PerMonitor<",
          "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

}  // namespace
}  // namespace dsu::testing
