// The benchmark cases, each a pair: the program's own code and the plain
// baseline on the same generated install. The drivers (Google Benchmark, or
// the small loop where it is not available) only time and report them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace dsu::bench {

struct Figures {
    double seconds = 0;
    double processorSeconds = 0;  // user and system time of the same part
    std::size_t peakBytes = 0;    // peak resident memory of the process
    std::size_t startBytes = 0;   // resident memory when the timed part began
    std::size_t items = 0;        // kuids found, skins counted or skins upgraded
};

struct Case {
    // "<job>/<code|plain|plain8>/<size>": plain8 is the plain loop with the
    // work of each listing spread over 8 threads.
    std::string name;
    int repetitions;
    std::function<Figures()> run;
};

// `data` holds the generated installs "install-<size>"; sizes without one
// are left out. Their working copies go below `work`. `repetitions` 0 takes
// the default of each size. `threads` sizes both of the program's work
// pools; 0 keeps their own sizes. With `cold`, the system's file cache is
// emptied before every run (where the system allows it; else the program
// says so once).
std::vector<Case> MakeCases(const std::string& data, const std::string& work,
                            const std::vector<std::string>& sizes, int repetitions,
                            std::size_t threads, bool cold);

}  // namespace dsu::bench
