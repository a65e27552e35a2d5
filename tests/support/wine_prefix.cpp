#include "tests/support/wine_prefix.h"

namespace dsu::testing {

FakeWinePrefix::FakeWinePrefix(const AppPaths& values, const install::Tree& driveC) {
    install::Install layout{driveC, install::ProgramAppPaths(values.host, values.paint)};
    // A default value that leads nowhere: the program reads "Path" alone.
    for (install::AppPath& key : layout.appPaths) key.program = RegText("C:\\nowhere\\" + key.exe);
    install::WriteWinePrefix(layout, temp_.Host(u"prefix"));
}

FakeWinePrefix::FakeWinePrefix(const install::Install& layout) {
    install::WriteWinePrefix(layout, temp_.Host(u"prefix"));
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
