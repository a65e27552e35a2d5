#include "app/prefix_search.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace dsu::app {
namespace {

TEST(PrefixSearch, ReadsLibraryPathsFromLibraryfoldersVdf) {
    const std::string vdf =
        "\"libraryfolders\"\n{\n"
        "\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/p/.local/share/Steam\"\n"
        "\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"0\"\n\t\t}\n\t}\n"
        "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"/mnt/games/Steam \\\"Library\\\"\"\n\t}\n"
        "\t\"contentstatsid\"\t\t\"-1\"\n}\n";
    EXPECT_EQ(SteamLibraries(vdf), (std::vector<std::string>{"/home/p/.local/share/Steam",
                                                             "/mnt/games/Steam \"Library\""}));
    // The form Steam wrote before 2021.
    const std::string old =
        "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1600000000\"\n"
        "\t\"ContentStatsID\"\t\t\"-1\"\n\t\"1\"\t\t\"/mnt/games/SteamLibrary\"\n"
        "\t\"2\"\t\t\"/media/p/Steam\"\n}\n";
    EXPECT_EQ(SteamLibraries(old),
              (std::vector<std::string>{"/mnt/games/SteamLibrary", "/media/p/Steam"}));
    EXPECT_TRUE(SteamLibraries("").empty());
    EXPECT_TRUE(SteamLibraries("\"path\"").empty());
}

TEST(PrefixSearch, CandidatesComeOnceInOrder) {
    namespace fs = std::filesystem;
    testing::TempFolder home;
    const fs::path root = home.Root();
    home.MakeFolder(u".wine");
    home.MakeFolder(u".local/share/Steam/steamapps/compatdata/20/pfx");
    home.MakeFolder(u".local/share/Steam/steamapps/compatdata/10/pfx");
    home.MakeFolder(u".local/share/Steam/steamapps/compatdata/30");  // no prefix yet
    fs::create_directories(root / ".steam");
    fs::create_directory_symlink(root / ".local/share/Steam", root / ".steam/steam");
    home.Write(u".local/share/Steam/steamapps/libraryfolders.vdf",
               "\"path\" \"" + (root / ".local/share/Steam").string() + "\"\n\"path\" \"" +
                   (root / "lib").string() + "\"\n");
    home.MakeFolder(u"lib/steamapps/compatdata/5/pfx");
    home.MakeFolder(
        u".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7/pfx");
    home.MakeFolder(u"snap/steam/common/.local/share/Steam/steamapps/compatdata/8/pfx");

    const std::vector<std::string> expected = {
        (root / ".wine").string(),
        (root / ".steam/steam/steamapps/compatdata/10/pfx").string(),
        (root / ".steam/steam/steamapps/compatdata/20/pfx").string(),
        (root / "lib/steamapps/compatdata/5/pfx").string(),
        (root / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7/pfx")
            .string(),
        (root / "snap/steam/common/.local/share/Steam/steamapps/compatdata/8/pfx").string(),
    };
    EXPECT_EQ(CandidatePrefixes(root.string()), expected);
}

}  // namespace
}  // namespace dsu::app
