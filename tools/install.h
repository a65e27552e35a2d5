// One description of a Korvash and Dyvenhall install, for the tests, the
// benchmarks and the sample script: its folders and files, and the App Paths
// values that lead to them. One writer for each layout: a folder on the host
// (WriteTree), or a Wine prefix whose C: drive holds the folder
// (WriteWinePrefix).
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dsu::install {

// A folder tree: relative path ("a/b/c", UTF-8) to the bytes of a file, or
// nullopt for a folder.
using Tree = std::map<std::string, std::optional<std::string>>;

// One App Paths key, "...\App Paths\<exe>", in HKLM's 64-bit view or in the
// 32-bit one (Wow6432Node), where a 32-bit installer writes it.
struct AppPath {
    std::string exe;
    // The "Path" value in system.reg's text form: RegText(...) for a REG_SZ,
    // "str(2):..." or "dword:..." for another type; nullopt: no value.
    std::optional<std::string> path;
    // The key's default value, the program's own path, in the same form.
    std::optional<std::string> program;
    bool view32 = false;
};

struct Install {
    Tree files;
    std::vector<AppPath> appPaths;
};

// The two keys the program reads, with these "Path" values (system.reg's
// text form); a nullopt value leaves its key without one.
std::vector<AppPath> ProgramAppPaths(std::optional<std::string> host,
                                     std::optional<std::string> paint);

// A REG_SZ value in system.reg's quoted form.
std::string RegText(std::string_view text);

// system.reg of a 64-bit prefix holding `appPaths`.
std::string SystemReg(const std::vector<AppPath>& appPaths);

// The tree below a real folder; links are entered as "-> target" files.
Tree ReadTree(const std::filesystem::path& root);
// Makes `tree` below the (existing) real folder `root`.
void WriteTree(const Tree& tree, const std::filesystem::path& root);

// Lays `install` out as a Wine prefix in `prefix`, as Wine would: system.reg,
// and dosdevices/c: leading to `driveC` (by default prefix/drive_c), which
// receives the files.
void WriteWinePrefix(const Install& install, const std::filesystem::path& prefix,
                     const std::filesystem::path& driveC = {});

}  // namespace dsu::install
