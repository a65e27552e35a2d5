#include "platform/files_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/buffered_file.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace dsu::platform {

namespace {

std::u16string Reason(int error) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in `buffer`.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return FromUtf8(text);
}

[[noreturn]] void Fail(std::u16string_view operation, std::u16string_view path, int error) {
    throw FileError(operation, path, Reason(error), static_cast<unsigned long>(error));
}

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

std::string Parent(const std::string& host) {
    const auto slash = host.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return host.substr(0, slash);
}

bool IsDirectoryEntry(int dirfd, const dirent* entry, bool* isFile) {
    unsigned char type = entry->d_type;
    if (type == DT_LNK || type == DT_UNKNOWN) {
        // Links count as what they lead to; a broken link is neither.
        struct stat st;
        if (::fstatat(dirfd, entry->d_name, &st, 0) != 0) {
            *isFile = false;
            return false;
        }
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    *isFile = type == DT_REG;
    return type == DT_DIR;
}

// Folders held open (FileSystem::HoldFolder), so that paths below them are
// walked from there: a path of a dozen components otherwise costs a lookup of
// each component on every open, which was much of a warm scan's time.
class HeldFolders {
  public:
    // Where a system call on `host` starts: the innermost held folder that
    // is or holds it and the rest of the path, or the working folder and the
    // whole path. `host` must outlive it.
    struct At {
        int dir = AT_FDCWD;
        const char* path = nullptr;
        std::shared_ptr<const void> keep;  // the held folder's descriptor stays open
    };

    // Holds the folder found at `found` for the paths that callers spell
    // `host`, which may differ from it in letter case.
    std::shared_ptr<void> Hold(const std::string& host, const std::string& found) {
        auto held = std::make_shared<Held>();
        held->host = host;
        held->fd = ::open(found.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (held->fd < 0) return nullptr;
        std::unique_lock lock(mutex_);
        std::erase_if(held_, [](const std::weak_ptr<Held>& h) { return h.expired(); });
        held_.push_back(held);
        return held;
    }

    At Find(const std::string& host) const {
        At at{.dir = AT_FDCWD, .path = host.c_str(), .keep = nullptr};
        std::size_t longest = 0;
        std::shared_lock lock(mutex_);
        for (const std::weak_ptr<Held>& weak : held_) {
            std::shared_ptr<Held> held = weak.lock();
            const std::size_t size = held ? held->host.size() : 0;
            if (size <= longest || host.compare(0, size, held->host) != 0) continue;
            if (host.size() == size) {
                at.path = ".";
            } else if (host[size] == '/') {
                at.path = host.c_str() + size + 1;
            } else {
                continue;
            }
            longest = size;
            at.dir = held->fd;
            at.keep = std::move(held);
        }
        return at;
    }

  private:
    struct Held {
        std::string host;
        int fd = -1;
        ~Held() {
            if (fd >= 0) ::close(fd);
        }
    };
    mutable std::shared_mutex mutex_;
    std::vector<std::weak_ptr<Held>> held_;
};

// 0 when `fd` is a file. Otherwise the error its read is refused with:
// EISDIR for a folder, as a read of one gives, and ENXIO for anything else (a
// FIFO, which could be waited on, or a device, which could be read without
// end), as FIFOs and devices without a reader give; or fstat's own error.
int Unreadable(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISREG(st.st_mode)) return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
}

// Reads at its own offset, so that the first read is a positioned one: a
// FIFO, a socket or a terminal refuses that (ESPIPE) without giving up any of
// its data. A short first read of a few bytes, a descriptor's or a config
// file's, shows a file without asking the system what is open; every other
// outcome asks once, so that only a file is ever read past its first block.
class PosixReader final : public BufferedTextReader {
  public:
    PosixReader(std::u16string path, int fd) : BufferedTextReader(std::move(path)), fd_(fd) {}
    void Close() override { fd_.reset(); }
    // Whether the first read found something other than a file: a folder, a
    // FIFO or a device. The reader is then at its end.
    bool NotAFile() const { return notAFile_; }

  protected:
    std::size_t ReadRaw(char* buffer, std::size_t capacity) override {
        ssize_t n;
        do {
            n = ::pread(fd_.get(), buffer, capacity, offset_);
        } while (n < 0 && errno == EINTR);
        const int error = errno;
        const bool shortFirst = offset_ == 0 && n > 0 && static_cast<std::size_t>(n) < capacity;
        if (!checked_ && !shortFirst) {
            checked_ = true;
            if (const int refused = Unreadable(fd_.get()); refused != 0) {
                // Past the first block the reader has handed out bytes, which
                // cannot be taken back: that ends the read.
                if (offset_ != 0 || (refused != EISDIR && refused != ENXIO))
                    Fail(u"read", Path(), refused);
                notAFile_ = true;
                return 0;
            }
        }
        if (n < 0) Fail(u"read", Path(), error);
        offset_ += n;
        return static_cast<std::size_t>(n);
    }

  private:
    Fd fd_;
    off_t offset_ = 0;
    bool checked_ = false;
    bool notAFile_ = false;
};

// Writes all of `data`, however many calls it takes; false, with errno set,
// when a write fails.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

class PosixWriter final : public BufferedTextWriter {
  public:
    PosixWriter(std::u16string path, int fd) : BufferedTextWriter(std::move(path)), fd_(fd) {}

  protected:
    void WriteRaw(const char* data, std::size_t size) override {
        if (!WriteAll(fd_.get(), data, size)) Fail(u"write", Path(), errno);
    }
    void SyncRaw() override {
        if (::fsync(fd_.get()) != 0) Fail(u"write", Path(), errno);
    }
    void CloseRaw() override {
        if (::close(fd_.release()) != 0) Fail(u"write", Path(), errno);
    }

  private:
    Fd fd_;
};

class PosixFileSystem final : public ListingFileSystem {
  public:
    explicit PosixFileSystem(std::string prefix)
        : prefix_(std::move(prefix)), keepAtMost_(KeepAtMost()) {}
    ~PosixFileSystem() override { ReleaseReplaced(kept_.size()); }

    void MakeFolder(const std::u16string& path) override {
        const std::string host = ForCreate(path);
        const auto at = held_.Find(host);
        if (::mkdirat(at.dir, at.path, 0777) != 0) Fail(u"make folder", path, errno);
    }

    void CopyFile(const std::u16string& source, const std::u16string& target) override {
        Fd in(OpenExisting(source, O_RDONLY));
        if (in.get() < 0) Fail(u"copy", source, errno);
        if (const int refused = Unreadable(in.get()); refused != 0) Fail(u"copy", source, refused);
        const std::string host = ForCreate(target);
        // The copy is written beside the target and swapped in whole, so that
        // the target is never left half-written.
        const std::string temporary = host + ".dsu-copy";
        const auto at = held_.Find(temporary);
        Fd out(::openat(at.dir, at.path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (out.get() < 0) Fail(u"copy", target, errno);
        try {
            std::vector<char> buffer(64 * 1024);
            for (;;) {
                const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) Fail(u"copy", source, errno);
                if (n == 0) break;
                if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n)))
                    Fail(u"copy", target, errno);
            }
            if (::fsync(out.get()) != 0) Fail(u"copy", target, errno);
            if (::close(out.release()) != 0) Fail(u"copy", target, errno);
            if (!Rename(temporary, host)) Fail(u"copy", target, errno);
        } catch (...) {
            ::unlinkat(at.dir, at.path, 0);
            throw;
        }
        SyncFolder(Parent(host), target);
    }

    void DeleteFile(const std::u16string& path) override {
        const std::string host = ResolveCase(Host(path));
        const auto at = held_.Find(host);
        if (::unlinkat(at.dir, at.path, 0) != 0) Fail(u"delete", path, errno);
    }

    // A rename over a file frees the old one, and where freeing waits on the
    // disk (a file system that discards freed blocks at once), so would this
    // thread. The old file is kept open across the rename instead, and freed
    // when ReleaseReplaced closes it.
    void ReplaceFile(const std::u16string& from, const std::u16string& to) override {
        const std::string target = ForCreate(to);
        Fd old(OpenToKeep(target));
        if (!Rename(ResolveCase(Host(from)), target)) Fail(u"replace", to, errno);
        std::lock_guard lock(keptMutex_);
        if (old.get() >= 0 && kept_.size() < keepAtMost_) kept_.push_back(old.release());
    }

    void ReleaseReplaced(std::size_t atMost) override {
        for (std::size_t n = 0; n < atMost; ++n) {
            int fd = -1;
            {
                std::lock_guard lock(keptMutex_);
                if (kept_.empty()) return;
                fd = kept_.back();
                kept_.pop_back();
            }
            ::close(fd);
        }
    }

    void FlushReplace(const std::u16string& to) override { SyncFolder(Parent(ForCreate(to)), to); }

    std::unique_ptr<TextReader> TryOpenReader(const std::u16string& path) override {
        const int fd = OpenExisting(path, O_RDONLY);
        if (fd < 0) {
            if (errno == ENOENT || errno == ENOTDIR || errno == EISDIR || errno == ENXIO)
                return nullptr;
            Fail(u"open", path, errno);
        }
        auto reader = std::make_unique<PosixReader>(path, fd);
        if (reader->AtEnd() && reader->NotAFile()) return nullptr;
        return reader;
    }

    std::unique_ptr<TextWriter> CreateWriter(const std::u16string& path) override {
        const std::string host = ForCreate(path);
        const auto at = held_.Find(host);
        const int fd = ::openat(at.dir, at.path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) Fail(u"create", path, errno);
        return std::make_unique<PosixWriter>(path, fd);
    }

    std::shared_ptr<void> HoldFolder(const std::u16string& folder) override {
        const std::string host = Host(folder);
        return held_.Hold(host, ResolveCase(host));
    }

    void ListSubfoldersAsFound(
        const std::u16string& folder,
        const std::function<void(std::vector<std::u16string>&&)>& found) override {
        // Large enough that handing a batch over costs little beside its
        // reads, small enough that the first reads start soon.
        constexpr std::size_t kBatch = 256;
        ReadNames(folder, true, ResolvePath(folder), kBatch, found);
    }

  private:
    std::string Host(std::u16string_view path) const { return HostPath(prefix_, path); }

    // The host name for a file that is to be made: an existing name that
    // matches without regard to letter case is used, as on Windows.
    std::string ForCreate(std::u16string_view path) const { return ResolveCase(Host(path)); }

    // Kept files count against the process's limit of open files, which the
    // file work itself must not reach.
    static std::size_t KeepAtMost() {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
        return std::min<std::size_t>(kKeptReplaced, limit.rlim_cur / 4);
    }

    // A handle that keeps the file at `host` from being freed; -1 when there
    // is none, or it cannot be had.
    int OpenToKeep(const std::string& host) const {
        const auto at = held_.Find(host);
#ifdef O_PATH
        return ::openat(at.dir, at.path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
#else
        return ::openat(at.dir, at.path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
#endif
    }

    bool Exists(const std::string& host) const {
        const auto at = held_.Find(host);
        struct stat st;
        return ::fstatat(at.dir, at.path, &st, AT_SYMLINK_NOFOLLOW) == 0;
    }

    // False, with errno set, when the rename fails.
    bool Rename(const std::string& from, const std::string& to) const {
        const auto a = held_.Find(from);
        const auto b = held_.Find(to);
        return ::renameat(a.dir, a.path, b.dir, b.path) == 0;
    }

    // A descriptor of the folder at `host`; -1, with errno set, when it
    // cannot be opened.
    int OpenFolderFd(const std::string& host) const {
        const auto at = held_.Find(host);
        return ::openat(at.dir, at.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }

    // opendir(3) of `host`; null, with errno set, when it fails.
    DIR* OpenFolder(const std::string& host) const {
        const int fd = OpenFolderFd(host);
        if (fd < 0) return nullptr;
        DIR* d = ::fdopendir(fd);
        if (d == nullptr) {
            const int error = errno;
            ::close(fd);
            errno = error;
        }
        return d;
    }

    void SyncFolder(const std::string& hostFolder, std::u16string_view path) const {
        Fd dir(OpenFolderFd(hostFolder));
        if (dir.get() < 0 || ::fsync(dir.get()) != 0) Fail(u"write", path, errno);
    }

    // Finds the entry of the folder open at `dir` whose name equals `name`
    // without regard to letter case; the first in listing order when several
    // do, or `name` itself when `exactWins` and it is there. The entries are
    // read directly: opendir(3) would add three system calls to each lookup,
    // and every skin without a descriptor needs one.
    static std::optional<std::string> MatchEntry(int dir, const std::string& name, bool exactWins) {
        const std::u16string wanted = FromUtf8(name);
        std::optional<std::u16string> best;
        std::string bestName;
        alignas(dirent64) char entries[16 * 1024];
        for (ssize_t size; (size = ::getdents64(dir, entries, sizeof entries)) > 0;) {
            for (ssize_t at = 0; at < size;) {
                const auto* e = reinterpret_cast<const dirent64*>(entries + at);
                at += e->d_reclen;
                if (exactWins && name == e->d_name) return name;
                const std::u16string candidate = FromUtf8(e->d_name);
                if (!EqualFolded(candidate, wanted)) continue;
                if (!best || ListingOrder(candidate, *best)) {
                    best = candidate;
                    bestName = e->d_name;
                }
            }
        }
        if (!best) return std::nullopt;
        return bestName;
    }

    // The host path under which `host` exists when names are matched without
    // regard to letter case, as on Windows: the exact name first, then a
    // case-insensitive match per component. Components that match nothing
    // stay as they are, so the caller's system call reports the missing name.
    std::string ResolveCase(const std::string& host) const {
        if (host.empty() || Exists(host)) return host;
        return ResolveMissing(host);
    }

    // ResolveCase of a `host` that its exact name may not reach.
    std::string ResolveMissing(const std::string& host) const {
        const std::string parent = Parent(host);
        if (parent == host) return host;
        const std::string name = host.substr(host.find_last_of('/') + 1);
        auto joined = [](const std::string& folder, const std::string& entry) {
            return (folder == "/" ? "/" : folder + "/") + entry;
        };
        if (name.empty() || name == "." || name == "..") return joined(ResolveCase(parent), name);
        // The parent is nearly always there as spelled; opening it is then
        // all the check it needs, and `name` itself, if there, is the answer.
        Fd dir(OpenFolderFd(parent));
        const bool exact = dir.get() >= 0;
        const std::string resolvedParent = exact ? parent : ResolveCase(parent);
        if (!exact && resolvedParent != parent) dir.reset(OpenFolderFd(resolvedParent));
        if (dir.get() < 0) return joined(resolvedParent, name);
        return joined(resolvedParent, MatchEntry(dir.get(), name, exact).value_or(name));
    }

    // open(2) of an existing file: the exact name first, then the name
    // matched without regard to letter case. Sets errno on failure.
    int OpenExisting(std::u16string_view path, int flags) const {
        const std::string host = Host(path);
        int fd = OpenFile(host, flags);
        if (fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) return fd;
        const int error = errno;
        const std::string resolved = ResolveMissing(host);
        if (resolved == host) {
            errno = error;
            return -1;
        }
        return OpenFile(resolved, flags);
    }

    // A FIFO would block the open without O_NONBLOCK. It stays: reads of
    // files ignore it, and clearing it would cost a system call on every open.
    int OpenFile(const std::string& host, int flags) const {
        const auto at = held_.Find(host);
        return ::openat(at.dir, at.path, flags | O_CLOEXEC | O_NONBLOCK);
    }

  protected:
    std::vector<std::u16string> ListNames(const std::u16string& folder, bool folders,
                                          std::u16string_view prefix) override {
        std::vector<std::u16string> names;
        ReadNames(folder, folders, prefix, static_cast<std::size_t>(-1),
                  [&](std::vector<std::u16string>&& all) { names = std::move(all); });
        SortListing(names, prefix.size());
        return names;
    }

  private:
    // The names of ListNames in the order the system lists them, handed to
    // `found` `batch` at a time, the last batch maybe fewer.
    void ReadNames(const std::u16string& folder, bool folders, std::u16string_view prefix,
                   std::size_t batch,
                   const std::function<void(std::vector<std::u16string>&&)>& found) {
        std::string host = Host(folder);
        DIR* d = OpenFolder(host);
        if (d == nullptr && (errno == ENOENT || errno == ENOTDIR)) {
            const std::string resolved = ResolveCase(host);
            if (resolved != host) d = OpenFolder(resolved);
        }
        if (d == nullptr) Fail(u"list", folder, errno);
        std::unique_ptr<DIR, int (*)(DIR*)> open(d, ::closedir);
        std::vector<std::u16string> names;
        errno = 0;
        while (const dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            bool isFile = false;
            const bool isFolder = IsDirectoryEntry(::dirfd(d), e, &isFile);
            if (folders ? isFolder : isFile) {
                const std::string_view name(e->d_name);
                std::u16string& entry = names.emplace_back();
                entry.reserve(prefix.size() + name.size());
                entry = prefix;
                AppendFromUtf8(entry, name);
                if (names.size() == batch) found(std::exchange(names, {}));
            }
            errno = 0;
        }
        if (errno != 0) Fail(u"list", folder, errno);
        if (!names.empty()) found(std::move(names));
    }

    std::string prefix_;
    HeldFolders held_;
    const std::size_t keepAtMost_;
    std::mutex keptMutex_;
    std::vector<int> kept_;  // old files of replaces, open until released
};

}  // namespace

std::string DefaultWinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string HostPath(const std::string& prefix, std::u16string_view path) {
    std::string host;
    host.reserve(prefix.size() + path.size() + 16);
    if (path.size() >= 2 && path[1] == u':' &&
        ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'))) {
        host += prefix;
        host += "/dosdevices/";
        host += static_cast<char>(path[0] | 0x20);
        host += ':';
        path.remove_prefix(2);
        if (!path.empty() && path[0] != u'\\') host += '/';
    }
    const std::size_t rest = host.size();
    AppendUtf8(host, path);
    std::replace(host.begin() + static_cast<std::ptrdiff_t>(rest), host.end(), '\\', '/');
    // A trailing separator names the same folder; drop it so that parents
    // and names split cleanly.
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    return host;
}

std::unique_ptr<FileSystem> MakePosixFileSystem(std::string prefix) {
    return std::make_unique<PosixFileSystem>(std::move(prefix));
}

std::unique_ptr<FileSystem> MakeSystemFileSystem(const RetryClock&) {
    return MakePosixFileSystem(DefaultWinePrefix());
}

}  // namespace dsu::platform
