// Finds the Wine prefix that holds Korvash: the one the player named, or
// ~/.wine and every Steam library's Proton prefixes.
#pragma once

#include <string>
#include <vector>

namespace dsu::app {

struct PrefixChoice {
    // The prefix to use; empty when several hold an install and none was named.
    std::string prefix;
    // Every prefix whose registry names a Korvash install, when searched.
    std::vector<std::string> found;
    bool searched = false;
};

// Steam library folders listed in a libraryfolders.vdf text: "path" entries,
// and the numbered entries of the older form.
std::vector<std::string> SteamLibraries(const std::string& vdfText);

// Candidate prefixes below `home`: ~/.wine, then steamapps/compatdata/*/pfx of
// every library of native, Flatpak and Snap Steam, each once, in that order.
std::vector<std::string> CandidatePrefixes(const std::string& home);

// `named` (--prefix) or `winePrefix` (WINEPREFIX) when given; otherwise the
// one candidate whose registry names a Korvash install. None found: ~/.wine,
// where start-up then reports the missing install.
PrefixChoice ChoosePrefix(const std::string& named, const std::string& winePrefix,
                          const std::string& home);

}  // namespace dsu::app
