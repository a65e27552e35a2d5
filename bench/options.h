// Command-line options of both drivers, taken out of argv before the rest
// goes to the benchmark library:
//   --data=DIR     the generated installs (default build/bench-data)
//   --work=DIR     their working copies (default DIR/work)
//   --sizes=A,B    which installs (default 1k,10k,100k)
//   --reps=N       runs per case (default: by size)
//   --threads=N    the threads of both of the program's pools (default: theirs)
//   --cold         empty the system's file cache before every run
#pragma once

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace dsu::bench {

struct Options {
    std::string data = "build/bench-data";
    std::string work;
    std::vector<std::string> sizes = {"1k", "10k", "100k"};
    int repetitions = 0;
    std::size_t threads = 0;  // 0: the program's default
    bool cold = false;
};

inline Options TakeOptions(int& argc, char** argv) {
    Options options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--data=", 0) == 0) {
            options.data = arg.substr(7);
        } else if (arg.rfind("--work=", 0) == 0) {
            options.work = arg.substr(7);
        } else if (arg.rfind("--sizes=", 0) == 0) {
            options.sizes.clear();
            std::istringstream list(arg.substr(8));
            for (std::string size; std::getline(list, size, ',');) options.sizes.push_back(size);
        } else if (arg == "--cold") {
            options.cold = true;
        } else if (arg.rfind("--threads=", 0) == 0) {
            options.threads = std::stoul(arg.substr(10));
        } else if (arg.rfind("--reps=", 0) == 0) {
            options.repetitions = std::stoi(arg.substr(7));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (options.work.empty()) options.work = options.data + "/work";
    return options;
}

}  // namespace dsu::bench
