// Wine's registry file parser on any text: no crash, no read outside the
// text (AddressSanitizer), and every value it finds can be read as text.
#include <cstdint>
#include <string_view>

#include "check.h"
#include "platform/registry.h"
#include "platform/wine_registry.h"

using namespace dsu::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto file = WineRegistryFile::Parse(text);
    if (!file) return 0;
    static const std::u16string_view paths[] = {
        u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\korvash.exe",
        u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Korvash Dyvenhall.exe",
        u"Software",
        u"Software\\Wow6432Node",
        u"a\\b",
        u"",
        u"\\",
        u"a\\\\b",
    };
    for (const auto view : {RegistryView::Bits32, RegistryView::Bits64}) {
        for (const auto path : paths) {
            const WineRegistryFile::Key* key = file->Find(path, view);
            if (key == nullptr) continue;
            for (const auto name : {u"Path", u"", u"SymbolicLinkValue"}) {
                const RegistryValueData* value = WineRegistryFile::FindValue(*key, name);
                if (value == nullptr) continue;
                const std::u16string shown = RegistryValueText(value->type, value->bytes);
                FUZZ_CHECK(shown.size() <= value->bytes.size() / 2 + 8);
            }
            for (const auto& [name, value] : key->values)
                RegistryValueText(value.type, value.bytes);
        }
    }
    return 0;
}
