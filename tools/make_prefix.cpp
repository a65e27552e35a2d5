// dsu-make-prefix PREFIX FOLDER: lays out a copy of FOLDER (which holds
// Korvash/ and Dyvenhall/) as a Wine prefix in PREFIX, at C:\Games, with both
// App Paths values leading there. No Wine is needed: the Linux program reads
// the prefix itself.
#include <exception>
#include <iostream>

#include "tools/install.h"

int main(int argc, char** argv) {
    using namespace dsu::install;
    if (argc != 3) {
        std::cerr << "usage: dsu-make-prefix PREFIX FOLDER\n";
        return 2;
    }
    try {
        Install install;
        for (const auto& [rel, content] : ReadTree(argv[2]))
            install.files.emplace("Games/" + rel, content);
        install.files.emplace("Games", std::nullopt);
        install.appPaths =
            ProgramAppPaths(RegText("C:\\Games\\Korvash\\"), RegText("C:\\Games\\Dyvenhall"));
        install.appPaths[0].program = RegText("C:\\Games\\Korvash\\korvash.exe");
        install.appPaths[1].program = RegText("C:\\Games\\Dyvenhall\\Korvash Dyvenhall.exe");
        WriteWinePrefix(install, argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "dsu-make-prefix: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
