#include <filesystem>
#include <stdexcept>

#include "bench/plain_job.h"
#include "bench/support.h"
#include "platform/text.h"
#include "platform/win32.h"

// After <windows.h>, which it needs.
#include <psapi.h>

namespace dsu::bench {

namespace {

using platform::Wide;

[[noreturn]] void Die(const char* what) { throw std::runtime_error(what); }

// Direct system calls on full paths; a failure that the job does not allow
// for ends the benchmark.
struct WinSys {
    using Path = std::u16string;
    using Handle = HANDLE;
    static Path Join(const Path& folder, const Path& name) { return folder + u'\\' + name; }
    static Path Text(const char* ascii) { return platform::FromAscii(ascii); }
    static std::string Key(const Path& name) {
        std::string key = platform::ToUtf8(name);
        plain::LowerAscii(key);
        return key;
    }
    template <class F>
    static void ForEach(const Path& folder, F f) {
        WIN32_FIND_DATAW data;
        const HANDLE find =
            FindFirstFileExW(Wide(folder + u"\\*"), FindExInfoBasic, &data, FindExSearchNameMatch,
                             nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE) return;
        do {
            const wchar_t* n = data.cFileName;
            if (n[0] == L'.' && (n[1] == L'\0' || (n[1] == L'.' && n[2] == L'\0'))) continue;
            f(platform::FromWide(n, wcslen(n)),
              (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    static Handle Open(const Path& path) {
        return CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    }
    static bool Ok(Handle h) { return h != INVALID_HANDLE_VALUE; }
    static std::size_t Read(Handle h, char* buffer, std::size_t capacity) {
        DWORD n = 0;
        if (!ReadFile(h, buffer, static_cast<DWORD>(capacity), &n, nullptr)) Die("read");
        return n;
    }
    static void Close(Handle h) { CloseHandle(h); }
    static Handle Create(const Path& path) {
        const HANDLE h = CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) Die("create");
        return h;
    }
    static void Write(Handle h, const char* data, std::size_t size) {
        DWORD n = 0;
        if (!WriteFile(h, data, static_cast<DWORD>(size), &n, nullptr) || n != size) Die("write");
    }
    static void Sync(Handle h) {
        if (!FlushFileBuffers(h)) Die("flush");
    }
    static void Replace(const Path& from, const Path& to, const Path&) {
        if (!MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            Die("replace");
    }
    static void MakeFolder(const Path& path) { CreateDirectoryW(Wide(path), nullptr); }
};

std::u16string Windows(const std::string& host) {
    std::u16string path = platform::FromUtf8(host);
    for (auto& c : path)
        if (c == u'/') c = u'\\';
    return path;
}

// The two App Paths values, as the installers would have written them.
class InstallRegistry final : public platform::Registry {
  public:
    explicit InstallRegistry(std::u16string root) : root_(std::move(root)) {}
    std::u16string QueryRegistryPath(platform::RegistryRoot, const std::u16string& subkey,
                                     const std::u16string& valueName) override {
        if (valueName != u"Path") return {};
        if (subkey.ends_with(u"\\korvash.exe")) return root_ + u"\\Korvash";
        if (subkey.ends_with(u"\\Korvash Dyvenhall.exe")) return root_ + u"\\Dyvenhall";
        return {};
    }

  private:
    std::u16string root_;
};

}  // namespace

Environment MakeEnvironment(const std::string& root) {
    Environment env;
    env.files = platform::MakeSystemFileSystem();
    env.registry = std::make_unique<InstallRegistry>(Windows(root));
    env.korvash = Windows(root) + u"\\Korvash\\";
    env.dyvenhall = Windows(root) + u"\\Dyvenhall\\";
    return env;
}

std::u16string SystemPath(const std::string&, const std::string& host) { return Windows(host); }

std::string ProgramHostPath(const std::string&, const std::string& host) { return host; }

// The peak working set cannot be reset; each case runs in its own process
// when its own peak is wanted.
void ResetPeakMemory() {}

std::size_t PeakMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

std::size_t CurrentMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
}

double ProcessorSeconds() {
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

void Settle() {}

// Emptying the standby list needs a privilege that a benchmark run lacks.
bool DropCaches() { return false; }

std::size_t PlainKuidScan(const std::string& root, std::size_t threads) {
    plain::Table table;
    return plain::ScanInto<WinSys>(table, Windows(root), threads);
}

std::size_t PlainSurvey(const std::string& korvash, std::size_t threads) {
    return plain::Survey<WinSys>(Windows(korvash) + u"\\World\\Custom\\Trains", threads);
}

std::size_t PlainUpdate(const std::string& korvash, const std::string& dyvenhall,
                        std::size_t threads) {
    return plain::Update<WinSys>(Windows(korvash), Windows(dyvenhall), threads);
}

}  // namespace dsu::bench
