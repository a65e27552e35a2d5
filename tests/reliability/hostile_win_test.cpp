// Hostile inputs that only Windows has: names the system reserves or trims,
// a read-only skin.dat, and a skin.dat another program holds without sharing.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/main_form.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/reliability/install.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_folder.h"

namespace dsu::testing {
namespace {

using Messages = std::vector<std::string>;

const std::string kOld = "1.3\r\ngp38\\Body\r\n";
const std::string kNew = "1.5\r\n<kuid2:30501:1000:1>\\<kuid:30501:100>\r\n";
const std::string kDone = "information: Skins have been upgraded.";

// The system's text for `code`, as a message gives it.
std::string Reason(DWORD code) { return platform::ToUtf8(platform::SystemErrorText(code)); }

class HostileWin : public ::testing::Test {
  public:
    HostileWin() {
        temp.Write(u"Dyvenhall/Skins/gp38/config.txt", "kuid <kuid:30501:100>\r\n");
        temp.Write(u"Korvash/World/dispatcher/downloads/gp38_hi_dyn_Body/config.txt",
                   "kuid <kuid2:30501:1000:1>\r\n");
        temp.MakeFolder(u"Korvash/World/Custom/Trains");
    }
    std::u16string Trains(std::u16string_view rest = u"") const {
        return temp.Path(u"Korvash\\World\\Custom\\Trains\\" + std::u16string(rest));
    }
    // Names the system would trim or take for a device need the "\\?\" form.
    static std::u16string Raw(const std::u16string& path) { return u"\\\\?\\" + path; }
    static bool MakeRawFolder(const std::u16string& path) {
        return CreateDirectoryW(platform::Wide(Raw(path)), nullptr) != 0;
    }
    static bool WriteRaw(const std::u16string& path, const std::string& bytes) {
        HANDLE h = CreateFileW(platform::Wide(Raw(path)), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        DWORD n = 0;
        const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        CloseHandle(h);
        return ok && n == bytes.size();
    }
    static std::string ReadRaw(const std::u16string& path) {
        HANDLE h = CreateFileW(platform::Wide(Raw(path)), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "(missing)";
        std::string bytes(1 << 16, '\0');
        DWORD n = 0;
        ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        CloseHandle(h);
        bytes.resize(n);
        return bytes;
    }
    RunOutcome Update() {
        auto files = SystemFiles();
        return RunUpdate(*files, temp.Path());
    }
    void TestBody() override {}

    TempFolder temp;
};

// Folders whose names Windows reserves for devices or trims (a trailing dot
// or space) cannot be reached by plain paths. Such a skin is passed over
// without a word, like a folder without skin.dat; the others upgrade.
TEST(HostileWinNames, ReservedAndTrimmedNames) {
    const std::u16string names[] = {u"dot.", u"space ", u"COM1", u"NUL", u"CON"};
    for (const auto& name : names) {
        SCOPED_TRACE(platform::ToUtf8(name));
        HostileWin install;
        ASSERT_TRUE(install.MakeRawFolder(install.Trains(name)));
        // Only the "\\?\" form can take these away again.
        struct RawCleanUp {
            std::u16string folder;
            ~RawCleanUp() {
                DeleteFileW(platform::Wide(HostileWin::Raw(folder + u"\\skin.dat")));
                DeleteFileW(platform::Wide(HostileWin::Raw(folder + u"\\skin.dat.tmp")));
                RemoveDirectoryW(platform::Wide(HostileWin::Raw(folder)));
            }
        } cleanUp{install.Trains(name)};
        ASSERT_TRUE(install.WriteRaw(install.Trains(name + u"\\skin.dat"), kOld));
        install.temp.Write(u"Korvash/World/Custom/Trains/plain/skin.dat", kOld);
        const RunOutcome run = install.Update();
        EXPECT_TRUE(run.finished) << Describe(run.events);
        EXPECT_EQ(run.messages.back(), kDone);
        EXPECT_EQ(install.temp.Read(u"Korvash/World/Custom/Trains/plain/skin.dat"), kNew);
        const std::string now = install.ReadRaw(install.Trains(name + u"\\skin.dat"));
        EXPECT_TRUE(now == kOld || now == kNew) << now;
    }
}

// A read-only skin.dat is not written but replaced, which Windows'
// MoveFileExW refuses: the rewrite ends with one message that names
// skin.dat, which stays whole and read-only. Wine's rename would replace it;
// the attribute is tested first, for Windows' answer under Wine too.
TEST_F(HostileWin, AReadOnlyDescriptor) {
    temp.Write(u"Korvash/World/Custom/Trains/skin/skin.dat", kOld);
    const std::u16string descriptor = Trains(u"skin\\skin.dat");
    ASSERT_TRUE(SetFileAttributesW(platform::Wide(descriptor), FILE_ATTRIBUTE_READONLY));
    const RunOutcome run = Update();
    const DWORD attributes = GetFileAttributesW(platform::Wide(descriptor));
    SetFileAttributesW(platform::Wide(descriptor), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(temp.Exists(u"Korvash/World/Custom/Trains/skin/skin.dat.tmp"));
    EXPECT_NE(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(temp.Read(u"Korvash/World/Custom/Trains/skin/skin.dat"), kOld);
    ASSERT_EQ(run.messages.size(), 1u) << Describe(run.events);
    EXPECT_EQ(run.messages[0].rfind("error: Could not replace ", 0), 0u) << run.messages[0];
    EXPECT_NE(run.messages[0].find("skin\\skin.dat: " + Reason(ERROR_ACCESS_DENIED)),
              std::string::npos)
        << run.messages[0];
}

// A read-only template file is copied all the same: its copy is flushed
// before it takes its place, which needs the read-only mark lifted a moment.
TEST_F(HostileWin, AReadOnlyTemplateFile) {
    temp.Write(u"Dyvenhall/Skins/gp38/body.tga", "template bytes");
    const std::u16string source = temp.Path(u"Dyvenhall\\Skins\\gp38\\body.tga");
    ASSERT_TRUE(SetFileAttributesW(platform::Wide(source), FILE_ATTRIBUTE_READONLY));
    temp.Write(u"Korvash/World/Custom/Trains/skin/skin.dat", kOld);
    const RunOutcome run = Update();
    SetFileAttributesW(platform::Wide(source), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(platform::Wide(temp.Path(u"Dyvenhall\\Skins\\gp38_hi_dyn\\body.tga")),
                       FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(run.messages, Messages{kDone});
    EXPECT_EQ(temp.Read(u"Dyvenhall/Skins/gp38_hi_dyn/body.tga"), "template bytes");
    for (const auto& entry :
         std::filesystem::directory_iterator(temp.Root() / "Dyvenhall/Skins/gp38_hi_dyn"))
        EXPECT_EQ(entry.path().filename().string().find(".dsu."), std::string::npos)
            << entry.path();
    EXPECT_EQ(temp.Read(u"Korvash/World/Custom/Trains/skin/skin.dat"), kNew);
}

// Another program holds skin.dat open without sharing it after start-up, past
// the wait's limit (on a clock that does not sleep): the rewrite ends with one
// message that names skin.dat, which stays whole.
TEST_F(HostileWin, ADescriptorHeldWithoutSharing) {
    temp.Write(u"Korvash/World/Custom/Trains/skin/skin.dat", kOld);
    FixedRegistry registry(temp.Path(u"Korvash\\"), temp.Path(u"Dyvenhall"));
    RecordingView view;
    FakeClock clock;
    auto files = platform::MakeSystemFileSystem(clock);
    app::frmMain form(*files, registry, view);
    ASSERT_TRUE(form.Load());
    HANDLE held = CreateFileW(platform::Wide(Trains(u"skin\\skin.dat")), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const bool finished = form.UpgradeSkins();
    CloseHandle(held);
    EXPECT_FALSE(finished);
    EXPECT_FALSE(clock.waits.empty());
    const Messages messages = view.Messages();
    ASSERT_EQ(messages.size(), 1u) << Describe(view.events);
    EXPECT_EQ(messages[0].rfind("error: Could not open ", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("skin\\skin.dat: " + Reason(ERROR_SHARING_VIOLATION)),
              std::string::npos)
        << messages[0];
    EXPECT_EQ(temp.Read(u"Korvash/World/Custom/Trains/skin/skin.dat"), kOld);
    EXPECT_FALSE(temp.Exists(u"Korvash/World/Custom/Trains/skin/skin.dat.tmp"));
}

}  // namespace
}  // namespace dsu::testing
