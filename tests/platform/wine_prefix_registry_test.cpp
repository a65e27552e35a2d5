// The Linux registry reader against a prefix whose values Wine's own reg.exe
// wrote (see make-registry-prefix), in the system.reg Wine saved.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/wine_registry.h"
#include "tests/platform/registry_cases.h"

namespace dsu::platform {
namespace {

using testing::kRegistryTestAppPath;
using testing::kSystemRegistryCases;
using testing::SystemRegistryCase;

std::string Prefix() {
    const char* prefix = std::getenv("DSU_REGISTRY_PREFIX");
    return prefix ? prefix : "";
}

// The prefix named outright, and as the system registry that WINEPREFIX names.
TEST(WinePrefixRegistry, ReadsWhatWinesRegWrote) {
    ASSERT_FALSE(Prefix().empty()) << "DSU_REGISTRY_PREFIX names no prefix";
    ASSERT_EQ(setenv("WINEPREFIX", Prefix().c_str(), 1), 0);
    const std::unique_ptr<Registry> registries[] = {MakeWineRegistry(Prefix()),
                                                    MakeSystemRegistry()};
    for (const auto& registry : registries) {
        SCOPED_TRACE(&registry == &registries[0] ? "named" : "WINEPREFIX");
        for (const SystemRegistryCase& c : kSystemRegistryCases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(
                ToUtf8(registry->QueryRegistryPath(RegistryRoot::LocalMachine, c.subkey, c.value)),
                ToUtf8(c.text));
        }
    }
}

TEST(WinePrefixRegistry, ThirtyTwoBitAppPathsIsWinesLinkToTheSixtyFourBitKey) {
    std::ifstream in(Prefix() + "/system.reg", std::ios::binary);
    ASSERT_TRUE(in);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const auto file = WineRegistryFile::Parse(text);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Is64Bit());
    const auto* key64 = file->Find(kRegistryTestAppPath, RegistryView::Bits64);
    ASSERT_NE(key64, nullptr);
    EXPECT_EQ(file->Find(kRegistryTestAppPath, RegistryView::Bits32), key64);
    EXPECT_EQ(file->Find(u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App "
                         u"Paths\\dyvenhall-registry-test.exe",
                         RegistryView::Bits64),
              key64);
}

}  // namespace
}  // namespace dsu::platform
