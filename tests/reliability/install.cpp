#include "tests/reliability/install.h"

#include <set>

#include "app/main_form.h"
#include "platform/text.h"
#include "tests/support/recording_view.h"

namespace dsu::testing {

namespace {

std::string Config(const std::string& kuid) {
    return "username \"x\"\r\ntype \"locomotive\"\r\nkuid " + kuid + "\r\nauthor \"p\"\r\n";
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

DiskTree SmallInstall() {
    const std::string trains = "Korvash/World/Custom/Trains/";
    const std::string downloads = "Korvash/World/dispatcher/downloads/";
    const std::string skins = "Dyvenhall/Skins/";
    DiskTree t;
    t["Korvash/korvash.exe"] = "MZ";
    t[trains + "alpha/skin.dat"] = "1.3\r\ngp38\\Body\r\npainter=1\r\ncolour=FF0000\r\n\r\n";
    t[trains + "alpha/body.tga"] = std::string("\0\1\2\3\r\n\xff", 7);
    t[trains + "alpha/config.txt"] = Config("<kuid:30502:1>");
    t[trains + "bravo/skin.dat"] = "1.3\r\nsd40\\Cab\r\nlast line without end";
    t[trains + "charlie/skin.dat"] = "1.3\r\nes44\\Roof\r\nkept\r\n";  // no es44 kuids
    t[trains + "delta/skin.dat"] = "1.5\r\n<kuid:1:1>\\<kuid:1:2>\r\n";
    t[trains + "echo/body.tga"] = "no descriptor here";
    t[trains + "foxtrot/skin.dat"] = "1.3\rGP38\\Cab\rcr\ralone\r";
    t[trains + "golf/skin.dat"] = "1.3\r\nnowhere\\Hood\r\n";  // no kuid at all
    t[trains + "hotel/skin.dat"] = "1.3\r\ngp38_hi_dyn\\Hood\r\n\xe9t\xe9\r\n";
    // Left by an earlier run: each is replaced at its skin's turn, not before.
    t[trains + "golf/skin.dat.tmp"] = "an old temporary";
    t[trains + "hotel/skin.dat.tmp"] = "1.5\r\n<kuid:9:9>\\<kuid:9:8>\r\n";
    t[downloads + "gp38_hi_dyn_Body/config.txt"] = Config("<kuid2:30501:1000:1>");
    t[downloads + "gp38_hi_dyn_Cab/config.txt"] = Config("<kuid2:30501:1001:1>");
    t[downloads + "gp38_hi_dyn_Hood/config.txt"] = Config("<kuid2:30501:1002:1>");
    t[downloads + "sd40_Cab/config.txt"] = Config("<kuid2:30501:1003:1>");
    t[downloads + "plain/config.txt"] = "no kuid here\r\n";
    t["Dyvenhall/Korvash Dyvenhall.exe"] = "MZ";
    t[skins + "gp38/config.txt"] = Config("<kuid:30501:100>");
    t[skins + "gp38/body.tga"] = std::string(300, '\x7f');
    t[skins + "gp38/cab.tga"] = "cab";
    t[skins + "gp38/textures/body.texture.txt"] = "Primary=\"body.tga\"\r\n";
    t[skins + "gp38/textures/deeper/ignored.txt"] = "not copied\r\n";
    t[skins + "gp38/empty"] = std::nullopt;
    t[skins + "gp38_hi_dyn/body.tga"] = "an older copy";
    t[skins + "gp38_hi_dyn/own.txt"] = "the painter's own file";
    t[skins + "sd40/config.txt"] = Config("<kuid:30501:101>");
    return t;
}

std::u16string FixedRegistry::QueryRegistryPath(platform::RegistryRoot,
                                                const std::u16string& subkey,
                                                const std::u16string& valueName) {
    if (valueName != u"Path") return {};
    if (subkey.ends_with(u"\\korvash.exe")) return host_;
    if (subkey.ends_with(u"\\Korvash Dyvenhall.exe")) return paint_;
    return {};
}

RunOutcome RunUpdate(platform::FileSystem& files, const std::u16string& root,
                     const std::function<void(const std::string&)>& onMessage) {
    FixedRegistry registry(root + u"\\Korvash\\", root + u"\\Dyvenhall");
    RecordingView view;
    view.onMessage = onMessage;
    app::frmMain form(files, registry, view);
    RunOutcome outcome;
    outcome.loaded = form.Load();
    if (outcome.loaded) outcome.finished = form.UpgradeSkins();
    outcome.exitCode = form.ExitCode();
    outcome.events = view.events;
    outcome.messages = view.Messages();
    return outcome;
}

std::unique_ptr<platform::FileSystem> SystemFiles() { return platform::MakeSystemFileSystem(); }

std::vector<std::string> Deviations(const DiskTree& now, const DiskTree& before,
                                    const DiskTree& done, bool leftovers) {
    std::set<std::string> paths;
    for (const auto* tree : {&now, &before, &done})
        for (const auto& entry : *tree) paths.insert(entry.first);
    auto show = [](const DiskTree& tree, const std::string& path) -> std::string {
        const auto it = tree.find(path);
        if (it == tree.end()) return "(none)";
        if (!it->second) return "(folder)";
        return "\"" + *it->second + "\"";
    };
    auto same = [](const DiskTree& a, const DiskTree& b, const std::string& path) {
        const auto i = a.find(path);
        const auto j = b.find(path);
        if (i == a.end() || j == b.end()) return i == a.end() && j == b.end();
        return i->second == j->second;
    };
    std::vector<std::string> problems;
    for (const std::string& path : paths) {
        if (same(now, before, path) || same(now, done, path)) continue;
        if (leftovers && !done.contains(path) &&
            (EndsWith(path, "/skin.dat.tmp") || path.find(".dsu.") != std::string::npos))
            continue;
        problems.push_back(path + ": " + show(now, path) + ", was " + show(before, path) +
                           ", whole run gives " + show(done, path));
    }
    return problems;
}

std::string Describe(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

}  // namespace dsu::testing
