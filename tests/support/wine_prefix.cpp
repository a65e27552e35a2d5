#include "tests/support/wine_prefix.h"

#include <filesystem>

namespace dsu::testing {

std::string RegText(std::string_view windowsPath) {
    std::string text = "\"";
    for (char c : windowsPath) {
        if (c == '\\' || c == '"') text += '\\';
        text += c;
    }
    return text + "\"";
}

FakeWinePrefix::FakeWinePrefix(const AppPaths& values) {
    std::string reg =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";
    auto key = [&](const char* exe, const std::optional<std::string>& value) {
        reg += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\";
        reg += exe;
        reg += "] 1700000000\n#time=1da0000000000000\n";
        if (value) reg += "\"Path\"=" + *value + "\n";
        reg += "@=\"C:\\\\nowhere\\\\" + std::string(exe) + "\"\n\n";
    };
    key("korvash.exe", values.host);
    key("Korvash Dyvenhall.exe", values.paint);
    temp_.Write(u"prefix/system.reg", reg);
    temp_.MakeFolder(u"prefix/drive_c");
    temp_.MakeFolder(u"prefix/dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", temp_.Host(u"prefix/dosdevices/c:"));
}

std::string FakeWinePrefix::Prefix() const { return temp_.Host(u"prefix").string(); }

void FakeWinePrefix::Write(std::u16string_view rel, std::string_view bytes) const {
    temp_.Write(u"prefix/drive_c/" + std::u16string(rel), bytes);
}
std::string FakeWinePrefix::Read(std::u16string_view rel) const {
    return temp_.Read(u"prefix/drive_c/" + std::u16string(rel));
}
bool FakeWinePrefix::Exists(std::u16string_view rel) const {
    return temp_.Exists(u"prefix/drive_c/" + std::u16string(rel));
}
void FakeWinePrefix::MakeFolder(std::u16string_view rel) const {
    temp_.MakeFolder(u"prefix/drive_c/" + std::u16string(rel));
}

}  // namespace dsu::testing
