// The parser of Wine's registry files, on texts in the form wineserver saves.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/wine_registry.h"
#include "tests/support/temp_folder.h"

namespace dsu::platform {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Utf16(std::u16string_view text, bool nul = true) {
    Bytes bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
    if (nul) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// A SymbolicLinkValue as wineserver saves it: UTF-16LE without a NUL.
std::string LinkValue(std::u16string_view target) {
    std::string text = "\"SymbolicLinkValue\"=hex(6):";
    const Bytes bytes = Utf16(target, false);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        text += hex;
        if (i + 1 < bytes.size()) text += i % 20 == 19 ? ",\\\n  " : ",";
    }
    return text + "\n";
}

std::string Reg(std::string_view body, std::string_view arch = "win64") {
    return "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=" +
           std::string(arch) + "\n\n" + std::string(body);
}

std::optional<RegistryValueData> Lookup(const WineRegistryFile& file, std::u16string_view path,
                                        std::u16string_view name,
                                        RegistryView view = RegistryView::Bits64) {
    const auto* key = file.Find(path, view);
    if (!key) return std::nullopt;
    const auto* value = WineRegistryFile::FindValue(*key, name);
    if (!value) return std::nullopt;
    return *value;
}

TEST(WineRegistryFile, ValueForms) {
    struct Case {
        const char* line;
        std::u16string name;
        std::uint32_t type;
        Bytes bytes;
    };
    const Case cases[] = {
        {R"("a"="C:\\Games\\")", u"a", kRegSz, Utf16(u"C:\\Games\\")},
        {R"("a"="")", u"a", kRegSz, Utf16(u"")},
        {R"("a"=str:"x")", u"a", kRegSz, Utf16(u"x")},
        {R"("a"=str(2):"%ProgramFiles%\\K")", u"a", kRegExpandSz, Utf16(u"%ProgramFiles%\\K")},
        {R"("a"=str(7):"C:\\a\0C:\\b\0")", u"a", kRegMultiSz,
         Utf16(std::u16string_view(u"C:\\a\0C:\\b\0", 10))},
        {R"("a"=hex:34,12)", u"a", kRegBinary, {0x34, 0x12}},
        {R"("a"=hex:)", u"a", kRegBinary, {}},
        {R"("a"=hex:FF, 0a ,7)", u"a", kRegBinary, {0xFF, 0x0A, 0x07}},
        {R"("a"=hex(0):)", u"a", 0, {}},
        {R"("a"=hex(1):43,00)", u"a", kRegSz, {0x43, 0x00}},
        {R"("a"=hex(ffff0007):01)", u"a", 0xFFFF0007u, {0x01}},
        {R"("a"=dword:00001234)", u"a", kRegDword, {0x34, 0x12, 0, 0}},
        {R"("a"=dword:ffffffff)", u"a", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}},
        {R"("a"=dword:7)", u"a", kRegDword, {7, 0, 0, 0}},
        {R"(@="C:\\default")", u"", kRegSz, Utf16(u"C:\\default")},
        {R"(  "a" =  "spaced")", u"a", kRegSz, Utf16(u"spaced")},
        {"\"a\"=\"crlf\"\r", u"a", kRegSz, Utf16(u"crlf")},
        {"\"a\"=hex:01,02,\\\n  03,04", u"a", kRegBinary, {1, 2, 3, 4}},
        {"\"a\"=hex(6):01,\\\r\n  02,\\\n\t03", u"a", kRegLink, {1, 2, 3}},
        {"\"a\"=hex:01,02,\\\n\n", u"a", kRegBinary, {1, 2}},
        {"\"a\"=\"first\"\n\"a\"=\"second\"", u"a", kRegSz, Utf16(u"second")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto file = WineRegistryFile::Parse(Reg("[Software\\\\T] 1700000000\n#time=1d\n" +
                                                      std::string(c.line) + "\n\"z\"=\"after\"\n"));
        ASSERT_TRUE(file);
        const auto value = Lookup(*file, u"Software\\T", c.name);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->bytes, c.bytes);
        // The line did not swallow the one behind it.
        const auto after = Lookup(*file, u"Software\\T", u"z");
        ASSERT_TRUE(after);
        EXPECT_EQ(after->bytes, Utf16(u"after"));
    }
}

TEST(WineRegistryFile, Escapes) {
    struct Case {
        const char* quoted;
        std::u16string text;
    };
    const Case cases[] = {
        {R"(\\)", u"\\"},
        {R"(\")", u"\""},
        {R"(\n\r\t)", u"\n\r\t"},
        {R"(\a\b\e\f\v)", u"\a\b\x1B\f\v"},
        {R"(\x41)", u"A"},
        {R"(\xfc\x00dfe)", u"\u00FC\u00DFe"},  // 4 digits when a hex digit follows
        {R"(\x20ac1)", u"\u20AC1"},
        {R"(\x00410)", u"A0"},
        {R"(\xg)", u"xg"},
        {R"(a\0b)", std::u16string(u"a\0b", 3)},
        {R"(\101)", u"A"},
        {R"(\1018)", u"A8"},
        {R"(\08)", std::u16string({u'\0', u'8'})},
        {R"(\]\q\[)", u"]q["},
        {"Gr\xC3\xBC\xC3\x9F\x65 \xE2\x82\xAC", u"Gr\u00FC\u00DFe \u20AC"},  // \x65: e
        {"\xF0\x9F\x9A\x82", u"\U0001F682"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quoted);
        const auto file = WineRegistryFile::Parse(
            Reg("[Software\\\\T]\n\"v\"=\"" + std::string(c.quoted) + "\"\n"));
        ASSERT_TRUE(file);
        const auto value = Lookup(*file, u"Software\\T", u"v");
        ASSERT_TRUE(value);
        EXPECT_EQ(value->bytes, Utf16(c.text));
    }
}

// Names are unescaped as strings are, and found in any letter case.
TEST(WineRegistryFile, NamesOfKeysAndValues) {
    const auto file = WineRegistryFile::Parse(
        Reg("[Software\\\\Korvash\\\\Gr\\xfc\\x00dfe]\n\"Path\"=\"C:\\\\K\"\n"
            "[SOFTWARE\\\\KORVASH\\\\GR\\xdc\\x00dfE]\n\"Other\"=\"merged\"\n"
            "[Software\\\\Gr\\xfc\\x00dfe\\\\[x\\]] 1700000000\n"
            "\"Na\\\"me\\\\x\"=\"1\"\n\"\\xe9t\\xe9\"=\"2\"\n"));
    ASSERT_TRUE(file);
    struct Case {
        std::u16string path;
        std::u16string name;
        bool found;
    };
    const Case cases[] = {
        {u"Software\\Korvash\\Gr\u00FC\u00DFe", u"Path", true},
        {u"software\\korvash\\gR\u00DC\u00DFe", u"PATH", true},
        {u"SOFTWARE\\KORVASH\\GR\u00DC\u00DFE", u"pAtH", true},
        {u"Software\\Korvash\\Gr\u00FC\u00DFe", u"other", true},
        {u"\\Software\\\\Korvash\\Gr\u00FC\u00DFe\\", u"Path", true},
        {u"Software\\Korvash\\Grusse", u"Path", false},
        {u"Software\\Korvash\\Gr\u00FC\u00DFe", u"Pat", false},
        {u"Software\\Korvash", u"Path", false},
        {u"Software\\Gr\u00FC\u00DFe\\[x]", u"Na\"me\\x", true},
        {u"Software\\Gr\u00FC\u00DFe\\[x]", u"\u00E9t\u00E9", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.path + u" " + c.name));
        EXPECT_EQ(Lookup(*file, c.path, c.name).has_value(), c.found);
    }
}

TEST(WineRegistryFile, MalformedInputIsPassedOver) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<Bytes> bytes = {};  // none: the value is not there
        std::u16string value = u"a";
        std::u16string path = u"Software\\T";
    };
    const std::string key = "[Software\\\\T]\n";
    // A key `levels` deep holding "v".
    const auto deep = [](const char* name, int levels, std::optional<Bytes> bytes) {
        std::string text = "[";
        std::u16string path;
        for (int i = 0; i < levels; ++i) {
            text += i ? "\\\\k" : "k";
            path += i ? u"\\k" : u"k";
        }
        return Case{name, text + "]\n\"v\"=\"deep\"\n", bytes, u"v", path};
    };
    const Case cases[] = {
        {"good value behind bad ones", key + "\"a\"=\"open\n\"b\"=\"ok\"\n", Utf16(u"ok"), u"b"},
        {"string without its closing quote", key + "\"a\"=\"open\n"},
        {"string ending in a backslash", key + "\"a\"=\"open\\"},
        {"name without its closing quote", key + "\"a=\"x\"\n"},
        {"name without =", key + "\"a\" \"x\"\n"},
        {"unknown data form", key + "\"a\"=str(3):\"x\"\n"},
        {"str( without a quote", key + "\"a\"=str(2):x\n"},
        {"hex byte over 255", key + "\"a\"=hex:100\n"},
        {"hex byte with leading zeros", key + "\"a\"=hex:00ff\n", Bytes{0xFF}},
        {"hex garbage", key + "\"a\"=hex:01,zz\n"},
        {"hex continued at the end of the text", key + "\"a\"=hex:01,\\"},
        {"hex continued into garbage", key + "\"a\"=hex:01,\\\n  xx\n\"b\"=\"ok\"\n", Utf16(u"ok"),
         u"b"},
        {"hex type without )", key + "\"a\"=hex(3:01\n"},
        {"hex type not hex", key + "\"a\"=hex(1x):01\n"},
        {"hex type too long", key + "\"a\"=hex(100000000):01\n"},
        {"hex type without :", key + "\"a\"=hex(3)01\n"},
        {"dword too long", key + "\"a\"=dword:123456789\n"},
        {"dword not hex", key + "\"a\"=dword:12g4\n"},
        {"dword empty", key + "\"a\"=dword:\n"},
        {"value before any key", "\"a\"=\"x\"\n" + key},
        {"continuation of a value before any key takes the next line",
         "\"a\"=hex:01,\\\n" + key + "\"b\"=\"x\"\n", std::nullopt, u"b"},
        {"values of a broken key line stay out of the last key",
         key + "[Software\\\\U\n\"a\"=\"x\"\n"},
        {"unknown lines", key + "garbage\n=\"x\"\n\x01\n\"a\"=\"x\"\n", Utf16(u"x")},
        {"NUL bytes", key + std::string("\"a\"=\"x\0y\"\n", 10), Utf16(std::u16string(u"x\0y", 3))},
        {"bad UTF-8", key + "\"a\"=\"\xC3\"\n", Utf16(FromUtf8("\xC3"))},
        deep("512 levels", 512, Utf16(u"deep")),
        deep("513 levels", 513, std::nullopt),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = WineRegistryFile::Parse(Reg(c.text));
        ASSERT_TRUE(file);
        const auto value = Lookup(*file, c.path, c.value);
        ASSERT_EQ(value.has_value(), c.bytes.has_value());
        if (value) {
            EXPECT_EQ(value->bytes, *c.bytes);
        }
    }
}

TEST(WineRegistryFile, OnlyWinesRegistryFiles) {
    const std::string texts[] = {"", "WINE REGISTRY Version 1\n[Software\\\\T]\n\"a\"=\"x\"\n",
                                 "REGEDIT4\n[Software\\\\T]\n\"a\"=\"x\"\n", "\n", "WINE REGISTRY"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(WineRegistryFile::Parse(text));
    }
    EXPECT_TRUE(WineRegistryFile::Parse("WINE REGISTRY Version 2"));
    EXPECT_TRUE(WineRegistryFile::Parse("WINE REGISTRY Version 2\r\n"));
}

TEST(WineRegistryFile, Links) {
    const std::string target = "[Software\\\\Target\\\\Sub]\n\"v\"=\"in target\"\n";
    auto link = [](const char* key, std::u16string_view to) {
        std::string text = "[";
        text.append(key).append("] 1700000000\n#time=1d\n#link\n").append(LinkValue(to));
        return text;
    };
    const std::u16string machine = u"\\Registry\\Machine\\Software\\";
    struct Case {
        const char* name;
        bool found;
        std::string body;
        std::u16string path = u"Software\\Alias\\Sub";
    };
    const Case cases[] = {
        {"whole path", true, target + link("Software\\\\Alias", machine + u"Target")},
        {"last component", true, target + link("Software\\\\Alias", machine + u"Target\\Sub"),
         u"Software\\Alias"},
        {"letter case of the target", true,
         target + link("Software\\\\Alias", u"\\REGISTRY\\machine\\SOFTWARE\\target")},
        {"chain of links", true,
         target + link("Software\\\\A1", machine + u"A2") +
             link("Software\\\\A2", machine + u"A3") + link("Software\\\\A3", machine + u"Target"),
         u"Software\\A1\\Sub"},
        {"link inside a target", true,
         target + link("Software\\\\Outer", machine + u"Inner\\Sub") +
             link("Software\\\\Inner", machine + u"Target"),
         u"Software\\Outer"},
        {"NUL ending the target", true,
         target + link("Software\\\\Alias", machine + std::u16string(u"Target\0", 7))},
        {"no #link: an ordinary key", false,
         target + "[Software\\\\Alias]\n" + LinkValue(machine + u"Target")},
        {"missing target", false, link("Software\\\\Alias", machine + u"Target")},
        {"target outside the machine", false,
         target + link("Software\\\\Alias", u"\\Registry\\User\\Software\\Target")},
        {"target not below \\Registry", false,
         target + link("Software\\\\Alias", u"\\Registry\\MachineX\\Software\\Target")},
        {"relative target", false, target + link("Software\\\\Alias", u"Software\\Target")},
        {"no SymbolicLinkValue", false, target + "[Software\\\\Alias]\n#link\n"},
        {"loop", false,
         link("Software\\\\A", machine + u"B") + link("Software\\\\B", machine + u"A"),
         u"Software\\A\\Sub"},
        {"link to itself", false, link("Software\\\\A", machine + u"A"), u"Software\\A"},
        {"loop through a parent", false, link("Software\\\\A\\\\B", machine + u"A\\B\\C"),
         u"Software\\A\\B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = WineRegistryFile::Parse(Reg(c.body));
        ASSERT_TRUE(file);
        for (auto view : {RegistryView::Bits64, RegistryView::Bits32}) {
            const auto value = Lookup(*file, c.path, u"v", view);
            ASSERT_EQ(value.has_value(), c.found);
            if (value) {
                EXPECT_EQ(value->bytes, Utf16(u"in target"));
            }
        }
    }
}

// The views through the registry a prefix folder holds, as the program
// reads them.
TEST(WineRegistry, ThirtyTwoBitViewFirst) {
    const std::string win64 = Reg(
        "[Software\\\\Classes\\\\Wow6432Node\\\\Kind]\n\"v\"=\"classes32\"\n"
        "[Software\\\\Classes\\\\Kind]\n\"v\"=\"classes64\"\n"
        "[Software\\\\K]\n\"both\"=\"C:\\\\From64\"\n\"only64\"=\"C:\\\\Only64\"\n"
        "\"empty32\"=\"C:\\\\Fallback64\"\n\"dword32\"=\"C:\\\\Text64\"\n"
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\k.exe]\n"
        "\"Path\"=\"C:\\\\Linked\"\n"
        "[Software\\\\Wow6432Node\\\\Classes]\n#link\n" +
        LinkValue(u"\\Registry\\Machine\\Software\\Classes\\Wow6432Node") +
        "[Software\\\\Wow6432Node\\\\K]\n\"both\"=\"C:\\\\From32\"\n\"only32\"=\"C:\\\\Only32\"\n"
        "\"empty32\"=\"\"\n\"dword32\"=dword:00000001\n"
        "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App "
        "Paths]\n#link\n" +
        LinkValue(u"\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths"));
    // The same keys in a prefix with no 32-bit view of its own.
    std::string win32 = win64;
    win32.replace(win32.find("#arch=win64"), 11, "#arch=win32");

    struct Case {
        const char* name;
        std::u16string value;
        std::u16string result;
        std::u16string subkey = u"Software\\K";
        const std::string* text = nullptr;  // none: win64
    };
    const Case cases[] = {
        {"both views", u"both", u"C:\\From32"},
        {"32-bit only", u"only32", u"C:\\Only32"},
        {"64-bit only", u"only64", u"C:\\Only64"},
        // A value in the 32-bit view decides even when it gives no text.
        {"empty 32-bit text", u"empty32", u""},
        {"32-bit DWORD", u"dword32", u""},
        {"neither", u"none", u""},
        {"Classes through Wine's link", u"v", u"classes32", u"Software\\Classes\\Kind"},
        {"App Paths through Wine's link", u"Path", u"C:\\Linked",
         u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\k.exe"},
        {"Wow6432Node named outright", u"only32", u"C:\\Only32", u"Software\\Wow6432Node\\K"},
        {"32-bit prefix: one view", u"both", u"C:\\From64", u"Software\\K", &win32},
        {"32-bit prefix: no Wow6432Node", u"only32", u"", u"Software\\K", &win32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempFolder prefix;
        prefix.Write(u"system.reg", c.text ? *c.text : win64);
        auto registry = MakeWineRegistry(prefix.Root().string());
        EXPECT_EQ(
            ToUtf8(registry->QueryRegistryPath(RegistryRoot::LocalMachine, c.subkey, c.value)),
            ToUtf8(c.result));
    }
}

// Each query reads the file Wine saved last, and no file, an empty one or one
// that is not Wine's gives the empty text.
TEST(WineRegistry, ReadsWhatWineSavedLast) {
    testing::TempFolder prefix;
    auto registry = MakeWineRegistry(prefix.Root().string());
    auto saving = [](const char* value) {
        return Reg("[Software\\\\K]\n\"v\"=\"" + std::string(value) + "\"\n");
    };
    const auto saved = std::filesystem::file_time_type::clock::now();
    struct Step {
        const char* name;
        std::optional<std::string> text;  // none: no file
        const char* result;
    };
    const Step steps[] = {
        {"no file yet", std::nullopt, ""},
        {"first save", saving("C:\\\\First"), "C:\\First"},
        {"longer", saving("C:\\\\Second one"), "C:\\Second one"},
        {"same size", saving("C:\\\\Third  one"), "C:\\Third  one"},
        {"removed", std::nullopt, ""},
        {"saved again", saving("C:\\\\Back"), "C:\\Back"},
        {"emptied", "", ""},
        {"not Wine's", "REGEDIT4\n[Software\\\\K]\n\"v\"=\"x\"\n", ""},
    };
    int secondsLater = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const auto file = prefix.Host(u"system.reg");
        if (step.text) {
            prefix.Write(u"system.reg", *step.text);
            std::filesystem::last_write_time(file, saved + std::chrono::seconds(++secondsLater));
        } else {
            std::filesystem::remove(file);
        }
        EXPECT_EQ(
            ToUtf8(registry->QueryRegistryPath(RegistryRoot::LocalMachine, u"Software\\K", u"v")),
            step.result);
    }
}

}  // namespace
}  // namespace dsu::platform
