// The kuid line test on any line, and the scan on any config.txt.
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "kuids/kuid_scan.h"
#include "platform/text.h"
#include "tests/support/simulated_disk.h"

using namespace dsu;

namespace {

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool StartsWithKuid(std::string_view s) {
    if (s.size() < 4) return false;
    for (int i = 0; i < 4; ++i) {
        const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] + 32) : s[i];
        if (c != "kuid"[i]) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    const kuids::KuidLine parsed = kuids::ParseKuidLine(line);
    const std::string_view trimmed = TrimSpaces(line);
    FUZZ_CHECK(parsed.isKuidLine == StartsWithKuid(trimmed));
    if (parsed.kuid) {
        FUZZ_CHECK(parsed.isKuidLine);
        // A view into the line itself: from its first "<" to the trimmed end.
        FUZZ_CHECK(parsed.kuid->data() >= line.data());
        FUZZ_CHECK(parsed.kuid->data() + parsed.kuid->size() <= line.data() + line.size());
        FUZZ_CHECK(parsed.kuid->data() == trimmed.data() + trimmed.find('<'));
        FUZZ_CHECK(parsed.kuid->data() + parsed.kuid->size() == trimmed.data() + trimmed.size());
    } else if (parsed.isKuidLine) {
        FUZZ_CHECK(trimmed.find('<') == std::string_view::npos);
    }

    // The same bytes as a whole config.txt: the scan never fails and
    // registers the folder at most once, with a kuid that starts with "<".
    testing::SimulatedDisk disk({}, u"C:", {{"Root/Folder/config.txt", std::string(line)}});
    kuids::colFolderKuids table;
    static platform::WorkPool pool(2);
    kuids::ScanFolderKuids(disk, table, u"C:\\Root", pool);
    FUZZ_CHECK(table.Count() <= 1);
    if (table.Count() == 1) {
        FUZZ_CHECK(table.Item(1)->Key == u"Folder");
        FUZZ_CHECK(!table.Item(1)->Kuid.empty() && table.Item(1)->Kuid[0] == u'<');
        // Decoded from the file's bytes: back in the code page, it is in there.
        FUZZ_CHECK(line.find(platform::ToCodePage(table.Item(1)->Kuid)) != std::string_view::npos);
    }
    return 0;
}
