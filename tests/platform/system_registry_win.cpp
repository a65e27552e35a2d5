// The Win32 registry reader under Wine, against values that Wine's own
// reg.exe writes into the running prefix (see registry_values.cmd).
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/platform/registry_cases.h"

namespace dsu::platform {
namespace {

using testing::kSystemRegistryCases;
using testing::SystemRegistryCase;

// registry_values.cmd on Wine's Z: drive, which maps the host's root.
std::u16string ValuesScript() {
    wchar_t buffer[4096];
    const DWORD length = GetEnvironmentVariableW(L"DSU_SOURCE_DIR", buffer, 4096);
    if (length == 0 || length >= 4096) return {};
    std::u16string path = u"Z:" + FromWide(buffer, length);
    for (auto& c : path)
        if (c == u'/') c = u'\\';
    return path + u"\\tests\\platform\\registry_values.cmd";
}

// Runs the script through Wine's cmd.exe; its exit code, or -1.
long RunValuesScript(const std::u16string& argument) {
    std::u16string commandLine = u"cmd.exe /c \"" + ValuesScript() + u"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(commandLine.data()), nullptr, nullptr,
                        FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

class SystemRegistry : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(RunValuesScript(u""), 0); }
    void TearDown() override { RunValuesScript(u"delete"); }
};

TEST_F(SystemRegistry, ReadsWhatWinesRegWrote) {
    auto registry = MakeSystemRegistry();
    for (const SystemRegistryCase& c : kSystemRegistryCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            ToUtf8(registry->QueryRegistryPath(RegistryRoot::LocalMachine, c.subkey, c.value)),
            ToUtf8(c.text));
    }
}

}  // namespace
}  // namespace dsu::platform
