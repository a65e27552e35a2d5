// A Wine prefix laid out as Wine lays it out, without Wine, in a temporary
// folder: system.reg with the two App Paths values, dosdevices/c: leading to
// drive_c.
#pragma once

#include <optional>
#include <string>

#include "tests/support/temp_folder.h"
#include "tools/install.h"

namespace dsu::testing {

using install::RegText;

struct AppPaths {
    // Values as written into system.reg's text, e.g. RegText("C:\\Games\\Korvash")
    // for a REG_SZ, or "hex(2):..." for another type; nullopt leaves it out.
    std::optional<std::string> host;
    std::optional<std::string> paint;
};

class FakeWinePrefix {
  public:
    // The program's two App Paths keys with `values`, and `driveC` on C:.
    explicit FakeWinePrefix(const AppPaths& values, const install::Tree& driveC = {});
    // Any keys, as `layout` names them.
    explicit FakeWinePrefix(const install::Install& layout);
    // The prefix folder (host path).
    std::string Prefix() const;
    // Writes a file below drive_c, "Games/Korvash/..." relative.
    void Write(std::u16string_view driveCRelative, std::string_view bytes) const;
    std::string Read(std::u16string_view driveCRelative) const;
    bool Exists(std::u16string_view driveCRelative) const;
    void MakeFolder(std::u16string_view driveCRelative) const;
    const TempFolder& Folder() const { return temp_; }

  private:
    TempFolder temp_;
};

}  // namespace dsu::testing
