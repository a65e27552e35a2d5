// The values that registry_values.cmd writes with Wine's reg.exe, and the
// text each reader must give for them.
#pragma once

namespace dsu::testing {

inline constexpr char16_t kRegistryTestKey[] = u"Software\\DyvenhallRegistryTest";
inline constexpr char16_t kRegistryTestAppPath[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\dyvenhall-registry-test.exe";

struct SystemRegistryCase {
    const char* name;
    const char16_t* subkey;
    const char16_t* value;
    const char16_t* text;
};

inline constexpr SystemRegistryCase kSystemRegistryCases[] = {
    {"REG_SZ ending in a backslash", kRegistryTestKey, u"TrailingBackslash",
     u"C:\\Games\\Korvash\\"},
    {"empty REG_SZ", kRegistryTestKey, u"Empty", u""},
    {"REG_EXPAND_SZ", kRegistryTestKey, u"Expandable", u""},
    {"REG_DWORD", kRegistryTestKey, u"Dword", u""},
    {"REG_MULTI_SZ", kRegistryTestKey, u"Multi", u""},
    {"REG_BINARY 34 12", kRegistryTestKey, u"Binary4660", u"4660"},
    {"REG_BINARY FF FF", kRegistryTestKey, u"BinaryMinus1", u"-1"},
    {"REG_BINARY 07", kRegistryTestKey, u"BinaryOneByte", u"7"},
    {"REG_BINARY of five bytes", kRegistryTestKey, u"BinaryFiveBytes", u"-32767"},
    {"REG_BINARY of no bytes", kRegistryTestKey, u"BinaryNone", u"0"},
    {"missing value", kRegistryTestKey, u"Absent", u""},
    {"missing key", u"Software\\DyvenhallRegistryTest\\Absent", u"Path", u""},
    {"value names ignore case", u"SOFTWARE\\dyvenhallregistrytest", u"trailingbackslash",
     u"C:\\Games\\Korvash\\"},
    {"32-bit view only", kRegistryTestKey, u"Only32", u"C:\\Only32"},
    {"64-bit view only", kRegistryTestKey, u"Only64", u"C:\\Only64"},
    {"both views: the 32-bit one first", kRegistryTestKey, u"Both", u"C:\\From32"},
    // A value that exists in the 32-bit view decides, even when it gives no
    // text: the 64-bit view is read only where the 32-bit one has nothing.
    {"empty 32-bit text: missing, whatever the 64-bit view holds", kRegistryTestKey, u"Empty32",
     u""},
    {"32-bit DWORD: missing, whatever the 64-bit view holds", kRegistryTestKey, u"Dword32", u""},
    {"App Paths written through the 32-bit view", kRegistryTestAppPath, u"Path",
     u"C:\\Games\\Written32"},
};

}  // namespace dsu::testing
