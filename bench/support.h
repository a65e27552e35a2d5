// What the benchmarks need of the host apart from the code under test: the
// job's environment on an install copy, peak memory, and the plain loops that
// do the least each job needs with direct system calls (the baselines).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/registry.h"

namespace dsu::bench {

// A working copy of a generated install: `root` holds Korvash/ and Dyvenhall/.
struct Environment {
    std::unique_ptr<platform::FileSystem> files;
    std::unique_ptr<platform::Registry> registry;
    std::u16string korvash;  // Windows-form paths, ending in "\"
    std::u16string dyvenhall;
};

// Lays out what the program needs to find the install below `root` (a host
// path): on Linux a Wine prefix whose C: drive holds it, on Windows a
// registry stand-in that names it.
Environment MakeEnvironment(const std::string& root);

// A Windows-form path of the host path `host` (below `root`), as the file
// services of `MakeEnvironment(root)` take it.
std::u16string SystemPath(const std::string& root, const std::string& host);

// The host path by which the program reaches `host` (below `root`): on Linux
// through the Wine prefix's drive link, so that the baselines walk the same
// path; on Windows `host` itself.
std::string ProgramHostPath(const std::string& root, const std::string& host);

// Peak memory of the process, in bytes. Where the system allows it the peak
// is reset first, so that each measurement has its own.
void ResetPeakMemory();
std::size_t PeakMemory();
std::size_t CurrentMemory();
// Processor time of the process so far (user and system), in seconds: on a
// machine shared with other work it varies less than the elapsed time.
double ProcessorSeconds();

// Writes cached file data out, so that a copy made before a run does not
// slow the run's own flushes down.
void Settle();
// Empties the system's file cache, for runs on a cold cache. False where the
// system does not allow it.
bool DropCaches();

// The baselines. Each returns how many items it found or changed; with
// `threads` above 1 the work of each listing is spread over that many.
// Kuids of the content folders directly below `root`.
std::size_t PlainKuidScan(const std::string& root, std::size_t threads);
// The start-up survey: skins with a version "1.3" skin.dat.
std::size_t PlainSurvey(const std::string& korvash, std::size_t threads);
// The update run: template copy, three scans, rewrite of every candidate.
std::size_t PlainUpdate(const std::string& korvash, const std::string& dyvenhall,
                        std::size_t threads);

}  // namespace dsu::bench
