#include <gtest/gtest.h>

#include <vector>

#include "platform/registry.h"

namespace dsu::platform {
namespace {

std::vector<unsigned char> Utf16(std::u16string_view text, bool nul) {
    std::vector<unsigned char> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
    if (nul) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

TEST(RegistryValueText, TypeTable) {
    struct Case {
        const char* name;
        std::uint32_t type;
        std::vector<unsigned char> data;
        std::u16string text;
    };
    const Case cases[] = {
        {"text", kRegSz, Utf16(u"C:\\Korvash\\", true), u"C:\\Korvash\\"},
        {"empty text", kRegSz, Utf16(u"", true), u""},
        {"no data", kRegSz, {}, u""},
        {"nul inside", kRegSz, Utf16(std::u16string(u"C:\\K\0tail", 9), true), u"C:\\K"},
        {"no nul", kRegSz, Utf16(u"C:\\K", false), u""},
        {"odd size", kRegSz, {'C', 0, 0, 0, 'x'}, u"C"},
        {"expandable", kRegExpandSz, Utf16(u"%ProgramFiles%", true), u""},
        {"dword", kRegDword, {1, 0, 0, 0}, u""},
        {"multi", kRegMultiSz, Utf16(std::u16string(u"a\0b\0", 4), true), u""},
        {"binary 4660", kRegBinary, {0x34, 0x12}, u"4660"},
        {"binary -1", kRegBinary, {0xFF, 0xFF}, u"-1"},
        {"binary one byte", kRegBinary, {0x07}, u"7"},
        {"binary none", kRegBinary, {}, u"0"},
        {"binary long", kRegBinary, {0x01, 0x80, 0x55, 0x66, 0x77}, u"-32767"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RegistryValueText(c.type, c.data), c.text);
    }
}

}  // namespace
}  // namespace dsu::platform
