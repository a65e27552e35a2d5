#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "bench/plain_job.h"
#include "bench/support.h"
#include "platform/files_posix.h"
#include "platform/text.h"
#include "tools/install.h"

namespace dsu::bench {

namespace {

[[noreturn]] void Die(const std::string& what) {
    std::perror(what.c_str());
    throw std::runtime_error(what);
}

// Direct system calls on host paths; a failure that the job does not allow
// for ends the benchmark.
struct PosixSys {
    using Path = std::string;
    using Handle = int;
    static Path Join(const Path& folder, const Path& name) { return folder + '/' + name; }
    static Path Text(const char* ascii) { return ascii; }
    static std::string Key(const Path& name) {
        std::string key = name;
        plain::LowerAscii(key);
        return key;
    }
    template <class F>
    static void ForEach(const Path& folder, F f) {
        DIR* d = ::opendir(folder.c_str());
        if (d == nullptr) return;
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.' &&
                (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0')))
                continue;
            f(Path(e->d_name), e->d_type == DT_DIR);
        }
        ::closedir(d);
    }
    static Handle Open(const Path& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }
    static bool Ok(Handle h) { return h >= 0; }
    static std::size_t Read(Handle h, char* buffer, std::size_t capacity) {
        const ssize_t n = ::read(h, buffer, capacity);
        if (n < 0) Die("read");
        return static_cast<std::size_t>(n);
    }
    static void Close(Handle h) { ::close(h); }
    static Handle Create(const Path& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) Die("create " + path);
        return fd;
    }
    static void Write(Handle h, const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(h, data, size);
            if (n < 0) Die("write");
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    static void Sync(Handle h) {
        if (::fsync(h) != 0) Die("fsync");
    }
    // The rename is made durable as the program makes it: the folder is
    // flushed too.
    static void Replace(const Path& from, const Path& to, const Path& folder) {
        if (::rename(from.c_str(), to.c_str()) != 0) Die("rename " + from);
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0 || ::fsync(dir) != 0) Die("fsync " + folder);
        ::close(dir);
    }
    static void MakeFolder(const Path& path) { ::mkdir(path.c_str(), 0777); }
};

}  // namespace

Environment MakeEnvironment(const std::string& root) {
    // A Wine prefix beside the install whose C: drive is the install's parent.
    namespace fs = std::filesystem;
    const fs::path prefix = fs::path(root).parent_path() / "prefix";
    const std::string name = fs::path(root).filename().string();
    install::Install layout;
    layout.appPaths = install::ProgramAppPaths(install::RegText("C:\\" + name + "\\Korvash"),
                                               install::RegText("C:\\" + name + "\\Dyvenhall"));
    install::WriteWinePrefix(layout, prefix, fs::path(root).parent_path());

    Environment env;
    env.files = platform::MakePosixFileSystem(prefix.string());
    env.registry = platform::MakeWineRegistry(prefix.string());
    env.korvash = u"C:\\" + platform::FromUtf8(name) + u"\\Korvash\\";
    env.dyvenhall = u"C:\\" + platform::FromUtf8(name) + u"\\Dyvenhall\\";
    return env;
}

std::u16string SystemPath(const std::string& root, const std::string& host) {
    const std::string name = std::filesystem::path(root).filename().string();
    std::u16string path =
        u"C:\\" + platform::FromUtf8(name) + platform::FromUtf8(host.substr(root.size()));
    for (auto& c : path)
        if (c == u'/') c = u'\\';
    return path;
}

std::string ProgramHostPath(const std::string& root, const std::string& host) {
    const std::filesystem::path r(root);
    return (r.parent_path() / "prefix" / "dosdevices" / "c:" / r.filename()).string() +
           host.substr(root.size());
}

void ResetPeakMemory() {
    // Heap memory that earlier work freed would otherwise be reused without
    // showing in the peak.
    ::malloc_trim(0);
    // "5" resets the peak resident set size (Linux 4.0 and later).
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

std::size_t PeakMemory() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

std::size_t CurrentMemory() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

double ProcessorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Settle() { ::sync(); }

bool DropCaches() {
    std::FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (f == nullptr) return false;
    const bool written = std::fputs("3", f) >= 0;
    return std::fclose(f) == 0 && written;
}

std::size_t PlainKuidScan(const std::string& root, std::size_t threads) {
    plain::Table table;
    return plain::ScanInto<PosixSys>(table, root, threads);
}

std::size_t PlainSurvey(const std::string& korvash, std::size_t threads) {
    return plain::Survey<PosixSys>(korvash + "/World/Custom/Trains", threads);
}

std::size_t PlainUpdate(const std::string& korvash, const std::string& dyvenhall,
                        std::size_t threads) {
    return plain::Update<PosixSys>(korvash, dyvenhall, threads);
}

}  // namespace dsu::bench
