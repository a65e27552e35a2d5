#include "tools/install.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/text.h"

namespace dsu::install {

namespace fs = std::filesystem;

std::vector<AppPath> ProgramAppPaths(std::optional<std::string> host,
                                     std::optional<std::string> paint) {
    return {{"korvash.exe", std::move(host), std::nullopt, false},
            {"Korvash Dyvenhall.exe", std::move(paint), std::nullopt, false}};
}

std::string RegText(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string SystemReg(const std::vector<AppPath>& appPaths) {
    std::string reg =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";
    for (const AppPath& key : appPaths) {
        reg += "[Software\\\\";
        if (key.view32) reg += "Wow6432Node\\\\";
        reg += "Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\" + key.exe +
               "] 1700000000\n#time=1da0000000000000\n";
        if (key.path) reg += "\"Path\"=" + *key.path + "\n";
        if (key.program) reg += "@=" + *key.program + "\n";
        reg += "\n";
    }
    return reg;
}

namespace {

fs::path HostPath(const fs::path& root, const std::string& relative) {
#ifdef _WIN32
    return root / fs::path(platform::FromUtf8(relative));
#else
    return root / fs::path(relative);
#endif
}

void WriteFile(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

Tree ReadTree(const fs::path& root) {
    Tree tree;
    std::vector<std::pair<fs::path, std::string>> pending{{root, ""}};
    while (!pending.empty()) {
        auto [folder, prefix] = pending.back();
        pending.pop_back();
        for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
#ifdef _WIN32
            const std::string name = platform::ToUtf8(e.path().filename().u16string());
#else
            const std::string name = e.path().filename().string();
#endif
            const std::string rel = prefix.empty() ? name : prefix + "/" + name;
            if (e.is_symlink()) {
                tree[rel] = "-> " + fs::read_symlink(e.path()).string();
            } else if (e.is_directory()) {
                tree[rel] = std::nullopt;
                pending.emplace_back(e.path(), rel);
            } else {
                std::ifstream in(e.path(), std::ios::binary);
                std::ostringstream bytes;
                bytes << in.rdbuf();
                tree[rel] = bytes.str();
            }
        }
    }
    return tree;
}

void WriteTree(const Tree& tree, const fs::path& root) {
    // Ordered by path, so that every folder comes before what it holds.
    for (const auto& [rel, content] : tree) {
        const fs::path host = HostPath(root, rel);
        if (!content) {
            fs::create_directories(host);
            continue;
        }
        fs::create_directories(host.parent_path());
        WriteFile(host, *content);
    }
}

void WriteWinePrefix(const Install& install, const fs::path& prefix, const fs::path& driveC) {
    const fs::path drive = driveC.empty() ? prefix / "drive_c" : driveC;
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(drive);
    WriteFile(prefix / "system.reg", SystemReg(install.appPaths));
    const fs::path link = prefix / "dosdevices" / "c:";
    fs::remove(link);
    fs::create_directory_symlink(fs::relative(drive, prefix / "dosdevices"), link);
    WriteTree(install.files, drive);
}

}  // namespace dsu::install
