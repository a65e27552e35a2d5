// The benchmarks where Google Benchmark is not available (the Windows build):
// the same cases, their runs interleaved, written as the library's JSON
// report (--out=FILE) so that one script reads both. --filter=TEXT keeps the
// cases whose names contain TEXT.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "bench/cases.h"
#include "bench/options.h"

int main(int argc, char** argv) {
    const dsu::bench::Options options = dsu::bench::TakeOptions(argc, argv);
    std::string out, filter;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--out=", 0) == 0) {
            out = arg.substr(6);
        } else if (arg.rfind("--filter=", 0) == 0) {
            filter = arg.substr(9);
        } else {
            // A flag meant for the other driver would otherwise run every case.
            std::fprintf(stderr, "unknown option %s (see bench/options.h, --out= and --filter=)\n",
                         arg.c_str());
            return 2;
        }
    }
    const auto cases = dsu::bench::MakeCases(options.data, options.work, options.sizes,
                                             options.repetitions, options.threads, options.cold);
    std::string json = "{\"benchmarks\": [\n";
    bool first = true;
    int most = 0;
    for (const auto& c : cases) most = std::max(most, c.repetitions);
    for (int rep = 0; rep < most; ++rep) {
        for (const auto& c : cases) {
            if (rep >= c.repetitions || c.name.find(filter) == std::string::npos) continue;
            const dsu::bench::Figures f = c.run();
            char line[512];
            std::snprintf(
                line, sizeof line,
                "%s{\"name\": \"%s\", \"run_type\": \"iteration\", \"real_time\": %.3f, "
                "\"time_unit\": \"ms\", \"cpu_ms\": %.3f, \"peak_MiB\": %.1f, \"start_MiB\": %.1f, "
                "\"items\": %zu}",
                first ? "" : ",\n", c.name.c_str(), f.seconds * 1000, f.processorSeconds * 1000,
                f.peakBytes / 1048576.0, f.startBytes / 1048576.0, f.items);
            first = false;
            json += line;
            std::printf("%-22s %10.1f ms  peak %7.1f MiB  items %zu\n", c.name.c_str(),
                        f.seconds * 1000, f.peakBytes / 1048576.0, f.items);
            std::fflush(stdout);
        }
    }
    json += "\n]}\n";
    if (!out.empty()) std::ofstream(out, std::ios::binary) << json;
    return 0;
}
