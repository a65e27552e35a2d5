// The benchmarks under Google Benchmark. Each run gets its own set-up (a fresh
// copy of what the update writes to) outside the measured time, so the time
// is taken by hand and the library only repeats, aggregates and reports.
#include <benchmark/benchmark.h>

#include "bench/cases.h"
#include "bench/options.h"

int main(int argc, char** argv) {
    const dsu::bench::Options options = dsu::bench::TakeOptions(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    static std::vector<dsu::bench::Case> cases =
        dsu::bench::MakeCases(options.data, options.work, options.sizes, options.repetitions,
                              options.threads, options.cold);
    for (const dsu::bench::Case& c : cases) {
        benchmark::RegisterBenchmark(c.name.c_str(),
                                     [&c](benchmark::State& state) {
                                         for (auto _ : state) {
                                             const dsu::bench::Figures f = c.run();
                                             state.SetIterationTime(f.seconds);
                                             state.counters["cpu_ms"] = f.processorSeconds * 1000;
                                             state.counters["peak_MiB"] = f.peakBytes / 1048576.0;
                                             state.counters["start_MiB"] = f.startBytes / 1048576.0;
                                             state.counters["items"] = static_cast<double>(f.items);
                                         }
                                     })
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(c.repetitions)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
