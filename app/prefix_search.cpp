#include "app/prefix_search.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main_form.h"
#include "platform/registry.h"

namespace dsu::app {

namespace fs = std::filesystem;

namespace {

// The quoted strings of one vdf line, escapes undone.
std::vector<std::string> QuotedTokens(const std::string& line) {
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '"') continue;
        std::string token;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            token += line[i];
        }
        tokens.push_back(token);
    }
    return tokens;
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HoldsKorvash(const std::string& prefix) {
    const auto registry = platform::MakeWineRegistry(prefix);
    return !registry
                ->QueryRegistryPath(platform::RegistryRoot::LocalMachine, kHostAppPathsKey, u"Path")
                .empty();
}

}  // namespace

std::vector<std::string> SteamLibraries(const std::string& vdfText) {
    std::vector<std::string> libraries;
    std::istringstream lines(vdfText);
    std::string line;
    while (std::getline(lines, line)) {
        const auto tokens = QuotedTokens(line);
        if (tokens.size() != 2 || tokens[1].empty()) continue;
        // Steam before 2021 wrote `"1" "/path"`; since then `"path" "/path"`
        // inside a numbered block, whose "apps" map numbers to sizes.
        const bool numbered =
            !tokens[0].empty() && std::all_of(tokens[0].begin(), tokens[0].end(),
                                              [](char c) { return c >= '0' && c <= '9'; });
        if (tokens[0] == "path" || (numbered && tokens[1].front() == '/'))
            libraries.push_back(tokens[1]);
    }
    return libraries;
}

std::vector<std::string> CandidatePrefixes(const std::string& home) {
    std::vector<std::string> candidates;
    std::vector<std::string> seen;
    auto add = [&](const fs::path& prefix) {
        std::error_code error;
        const fs::path canonical = fs::canonical(prefix, error);
        if (error || !fs::is_directory(canonical, error)) return;
        if (std::find(seen.begin(), seen.end(), canonical.string()) != seen.end()) return;
        seen.push_back(canonical.string());
        candidates.push_back(prefix.string());
    };
    add(fs::path(home) / ".wine");

    const fs::path steamRoots[] = {
        fs::path(home) / ".steam/steam",
        fs::path(home) / ".local/share/Steam",
        fs::path(home) / ".var/app/com.valvesoftware.Steam/.local/share/Steam",
        fs::path(home) / "snap/steam/common/.local/share/Steam",
    };
    for (const fs::path& root : steamRoots) {
        std::vector<fs::path> libraries = {root};
        for (const std::string& library :
             SteamLibraries(ReadText(root / "steamapps/libraryfolders.vdf")))
            libraries.emplace_back(library);
        for (const fs::path& library : libraries) {
            std::error_code error;
            std::vector<fs::path> games;
            for (fs::directory_iterator it(library / "steamapps/compatdata", error), end;
                 !error && it != end; it.increment(error))
                games.push_back(it->path());
            std::sort(games.begin(), games.end());
            for (const fs::path& game : games) add(game / "pfx");
        }
    }
    return candidates;
}

PrefixChoice ChoosePrefix(const std::string& named, const std::string& winePrefix,
                          const std::string& home) {
    if (!named.empty()) return {named, {}, false};
    if (!winePrefix.empty()) return {winePrefix, {}, false};

    PrefixChoice choice{{}, {}, true};
    for (const std::string& prefix : CandidatePrefixes(home))
        if (HoldsKorvash(prefix)) choice.found.push_back(prefix);
    if (choice.found.size() == 1) choice.prefix = choice.found.front();
    if (choice.found.empty()) choice.prefix = (fs::path(home) / ".wine").string();
    return choice;
}

}  // namespace dsu::app
