// The path helpers on any 16-bit text.
#include <cstdint>
#include <string>

#include "check.h"
#include "platform/failure.h"
#include "platform/paths.h"

using namespace dsu::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte steers: with its top four bits set, the text is repeated
    // to just around the 32,767 characters the chop helpers can scan.
    const unsigned steer = data[0];
    std::u16string text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if ((steer & 0xf0) == 0xf0 && !text.empty()) {
        const std::size_t target = 32767 - 2 + (steer & 3);  // 32765 .. 32768
        while (text.size() < target) text += text;
        text.resize(target);
    }

    const std::size_t last = text.rfind(u'\\');
    const bool overflows =
        text.size() > 32767 || (text.size() == 32767 && last == std::u16string::npos);
    std::u16string file;
    std::u16string folder;
    try {
        file = ChopPathOff(text);
        FUZZ_CHECK(!overflows);
    } catch (const OverflowError&) {
        FUZZ_CHECK(overflows);
    }
    try {
        folder = ChopFileOff(text);
        FUZZ_CHECK(!overflows);
    } catch (const OverflowError&) {
        FUZZ_CHECK(overflows);
    }
    if (!overflows) {
        if (last == std::u16string::npos) {
            FUZZ_CHECK(file.empty() && folder.empty());
        } else {
            // The name is all behind the last "\", and holds none.
            FUZZ_CHECK(file == text.substr(last + 1));
            FUZZ_CHECK(file.find(u'\\') == std::u16string::npos);
            // The folder is all ahead of it, ending in exactly one added "\".
            FUZZ_CHECK(!folder.empty() && folder.back() == u'\\');
            FUZZ_CHECK(UnResolvePath(folder) == text.substr(0, last) ||
                       folder == text.substr(0, last));
            FUZZ_CHECK(text.starts_with(folder) || text.starts_with(UnResolvePath(folder)));
        }
    }

    const std::u16string resolved = ResolvePath(text);
    FUZZ_CHECK(!resolved.empty() && resolved.back() == u'\\');
    FUZZ_CHECK(ResolvePath(resolved) == resolved);
    FUZZ_CHECK(resolved == text || resolved == text + u"\\");
    const std::u16string unresolved = UnResolvePath(text);
    FUZZ_CHECK(unresolved == text || unresolved + u"\\" == text);
    if (text.empty() || text.back() != u'\\') FUZZ_CHECK(UnResolvePath(ResolvePath(text)) == text);
    if (!resolved.ends_with(u"\\\\")) FUZZ_CHECK(ResolvePath(UnResolvePath(resolved)) == resolved);
    return 0;
}
