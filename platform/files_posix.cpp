#include "platform/files_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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
#include "platform/work_pool.h"

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

// A failed fsync is final, never made again: the write-back error it reports
// is reported once, and a second fsync would succeed without the data.
[[noreturn]] void FailFlush(std::u16string_view operation, std::u16string_view path, int error) {
    throw FlushError(operation, path, Reason(error), static_cast<unsigned long>(error));
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

// A name Windows cannot hold is no entry of an install: Wine does not show
// it under that name, and a backslash in it would read as a path.
bool WindowsCanHold(std::string_view name) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 32 || std::strchr("\\:*?\"<>|", c) != nullptr)
            return false;
    return true;
}

// Windows refuses to replace a read-only file, with its own words; Wine shows
// a file that no one may write as read-only.
constexpr std::u16string_view kAccessDenied = u"Access is denied.";
bool ReadOnly(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

bool HasDrive(std::u16string_view path) {
    return path.size() >= 2 && path[1] == u':' &&
           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

// The host's own path written with "\" for "/".
std::string HostOwnPath(std::u16string_view path) {
    std::string host;
    host.reserve(path.size() + 16);
    AppendUtf8(host, path);
    std::replace(host.begin(), host.end(), '\\', '/');
    // A trailing separator names the same folder; drop it so that parents
    // and names split cleanly.
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    return host;
}

// Errors that more free descriptors or disk space may mend.
bool ForWantOfRoom(int error) {
    return error == EMFILE || error == ENFILE || error == ENOSPC || error == EDQUOT;
}

// The old files of replaces, kept open so that freeing them (which on a file
// system that discards freed blocks at once waits on the disk) is left to the
// pool's threads; see ReplaceFile.
class KeptFiles {
  public:
    KeptFiles() {
        // Kept files count against the process's limit of open files, which
        // the file work itself must not reach.
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
            atMost_ = std::min<std::size_t>(kAtMost, limit.rlim_cur / 4);
        // Keeping a file right after its replace allocates nothing.
        files_.reserve(atMost_);
    }
    ~KeptFiles() {
        for (const int fd : files_) ::close(fd);
    }
    KeptFiles(const KeptFiles&) = delete;
    KeptFiles& operator=(const KeptFiles&) = delete;

    void Keep(int fd) {
        std::unique_lock lock(mutex_);
        if (files_.size() < atMost_) return files_.push_back(fd);
        lock.unlock();
        ::close(fd);
    }
    // Frees up to `n`, one at a time outside the lock, allocating nothing;
    // true when it freed any.
    bool Release(std::size_t n) {
        bool freed = false;
        for (; n > 0; --n) {
            int fd = -1;
            {
                std::lock_guard lock(mutex_);
                if (files_.empty()) break;
                fd = files_.back();
                files_.pop_back();
            }
            ::close(fd);
            freed = true;
        }
        return freed;
    }
    // Makes `call` (a system call that sets errno), and once more after
    // freeing every kept file when it failed for want of descriptors or
    // space, which they may hold: a failure is then the system's, not theirs.
    template <class Call>
    auto Retried(Call&& call) {
        auto result = call();
        if (result < 0 && ForWantOfRoom(errno) && Release(static_cast<std::size_t>(-1)))
            result = call();
        return result;
    }

  private:
    // As many as the update run has descriptors in flight.
    static constexpr std::size_t kAtMost = kDescriptorsAhead;
    std::size_t atMost_ = 0;
    std::mutex mutex_;
    std::vector<int> files_;
};

// Folders held open, so that paths below them are walked from there: a path
// of a dozen components otherwise costs a lookup of each component on every
// open, which was much of a warm scan's time. The folder last listed is held,
// as the files below it are what is opened next, and only until the next
// folder listing or the event's end: a folder renamed meanwhile must not be
// taken for the one its old name now names, so every listing, and every
// event, finds its folders by name.
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

    // Holds the folder open at `fd`, in the place of any other, for the
    // paths that callers spell `host`, which may differ from its name in
    // letter case.
    void Hold(const std::string& host, int fd) {
        auto held = std::make_shared<Held>();
        held->host = host;
        held->fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (held->fd < 0) return;
        std::unique_lock lock(mutex_);
        held_.assign(1, std::move(held));
    }

    // Paths are walked from the root again. A call under way keeps the
    // folder it started from.
    void Release() {
        std::unique_lock lock(mutex_);
        held_.clear();
    }

    At Find(const std::string& host) const {
        At at{.dir = AT_FDCWD, .path = host.c_str(), .keep = nullptr};
        std::size_t longest = 0;
        std::shared_lock lock(mutex_);
        for (const std::shared_ptr<Held>& held : held_) {
            const std::size_t size = held->host.size();
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
            at.keep = held;
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
    std::vector<std::shared_ptr<Held>> held_;
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

FileStamp StampOfStat(const struct stat& st) {
    return {.volume = st.st_dev,
            .file = st.st_ino,
            .size = static_cast<std::uint64_t>(st.st_size),
            .time = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                    static_cast<std::uint64_t>(st.st_mtim.tv_nsec)};
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
    FileStamp Stamp() override {
        struct stat st;
        if (::fstat(fd_.get(), &st) != 0) Fail(u"read", Path(), errno);
        return StampOfStat(st);
    }
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
// when a write fails. The space of kept files may be what the disk lacks:
// they are freed once before a write fails for want of it.
bool WriteAll(int fd, const char* data, std::size_t size, KeptFiles& kept) {
    bool freed = false;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (!freed && ForWantOfRoom(errno) && kept.Release(static_cast<std::size_t>(-1))) {
                freed = true;
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

class PosixWriter final : public BufferedTextWriter {
  public:
    PosixWriter(std::u16string path, int fd, KeptFiles& kept)
        : BufferedTextWriter(std::move(path)), fd_(fd), kept_(kept) {}

  protected:
    void WriteRaw(const char* data, std::size_t size) override {
        if (!WriteAll(fd_.get(), data, size, kept_)) Fail(u"write", Path(), errno);
    }
    void SyncRaw() override {
        if (::fsync(fd_.get()) != 0) FailFlush(u"write", Path(), errno);
    }
    void CloseRaw() override {
        if (::close(fd_.release()) != 0) Fail(u"write", Path(), errno);
    }

  private:
    Fd fd_;
    KeptFiles& kept_;
};

class PosixFileSystem final : public ListingFileSystem {
  public:
    PosixFileSystem(std::string prefix, bool hostPaths)
        : prefix_(std::move(prefix)), hostPaths_(hostPaths) {}

    void MakeFolder(const std::u16string& path) override {
        const std::string host = ForCreate(path, u"make folder");
        const auto at = held_.Find(host);
        if (::mkdirat(at.dir, at.path, 0777) != 0) Fail(u"make folder", path, errno);
    }

    void CopyFile(const std::u16string& source, const std::u16string& target) override {
        Fd in(kept_.Retried([&] { return OpenExisting(source, O_RDONLY); }));
        if (in.get() < 0) Fail(u"copy", source, errno);
        if (const int refused = Unreadable(in.get()); refused != 0) {
            if (refused == ENXIO) throw FileError(u"copy", source, kNotAFile, ENXIO);
            Fail(u"copy", source, refused);
        }
        const std::string host = ForCreate(target, u"copy");
        if (IsReadOnly(host)) throw FileError(u"copy", target, kAccessDenied, EACCES);
        // The copy is written beside the target and swapped in whole, so that
        // the target is never left half-written; under a new name, so that it
        // takes the place of no file of the player's.
        RemoveLeftoversOf(host);
        std::string temporary;
        Fd out;
        for (int tries = 0; out.get() < 0; ++tries) {
            temporary = host + ToUtf8(NewCopySuffix());
            out.reset(CreateNew(temporary));
            if (out.get() < 0 && (errno != EEXIST || tries == 8)) Fail(u"copy", target, errno);
        }
        const auto at = held_.Find(temporary);
        try {
            std::vector<char> buffer(64 * 1024);
            for (;;) {
                const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) Fail(u"copy", source, errno);
                if (n == 0) break;
                if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n), kept_))
                    Fail(u"copy", target, errno);
            }
            if (::fsync(out.get()) != 0) FailFlush(u"copy", target, errno);
            if (::close(out.release()) != 0) Fail(u"copy", target, errno);
            if (!Rename(temporary, host)) Fail(u"copy", target, errno);
        } catch (...) {
            ::unlinkat(at.dir, at.path, 0);
            throw;
        }
        SyncFolder(Parent(host), target);
    }

    void DeleteFile(const std::u16string& path) override {
        const std::string host = Resolved(Host(path), u"delete", path);
        const auto at = held_.Find(host);
        if (::unlinkat(at.dir, at.path, 0) != 0) Fail(u"delete", path, errno);
    }

    // A rename over a file frees the old one, and where freeing waits on the
    // disk (a file system that discards freed blocks at once), so would this
    // thread, which makes the replaces in order. The old file is kept open
    // across the rename instead, and the pool's calls free it.
    void ReplaceFile(const std::u16string& from, const std::u16string& to) override {
        const std::string target = ForCreate(to, u"replace");
        Fd old(OpenToKeep(target));
        struct stat st;
        if (old.get() >= 0 && ::fstat(old.get(), &st) == 0 && ReadOnly(st))
            throw FileError(u"replace", to, kAccessDenied, EACCES);
        if (!Rename(Resolved(Host(from), u"replace", to), target)) Fail(u"replace", to, errno);
        if (old.get() >= 0) kept_.Keep(old.release());
    }

    void FlushReplace(const std::u16string& to) override {
        // Each flush follows a replace: freeing two kept files keeps up.
        kept_.Release(2);
        SyncFolder(Parent(ForCreate(to, u"write")), to);
    }

    std::unique_ptr<TextReader> TryOpenReader(const std::u16string& path) override {
        const int fd = kept_.Retried([&] { return OpenExisting(path, O_RDONLY); });
        if (fd < 0) {
            if (errno == ENOENT || errno == ENOTDIR || errno == EISDIR || errno == ENXIO)
                return nullptr;
            Fail(u"open", path, errno);
        }
        auto reader = std::make_unique<PosixReader>(path, fd);
        if (reader->AtEnd() && reader->NotAFile()) return nullptr;
        return reader;
    }

    std::unique_ptr<TextWriter> CreateWriter(const std::u16string& path,
                                             Existing existing) override {
        // Each descriptor written precedes at most one replace: freeing two
        // kept files keeps up, and holds the writing up little.
        kept_.Release(2);
        const std::string host = ForCreate(path, u"create");
        int fd = CreateNew(host);
        // A file or a link in the way is removed as a name, never opened.
        for (int tries = 0; fd < 0 && errno == EEXIST && existing == Existing::Replace; ++tries) {
            const auto at = held_.Find(host);
            struct stat st;
            if (::fstatat(at.dir, at.path, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT) Fail(u"create", path, errno);
            } else if (S_ISDIR(st.st_mode)) {
                Fail(u"create", path, EISDIR);
            } else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
                throw FileError(u"create", path, kNotAFile, ENXIO);
            } else if (::unlinkat(at.dir, at.path, 0) != 0 && errno != ENOENT) {
                Fail(u"create", path, errno);
            }
            if (tries == 8) Fail(u"create", path, EEXIST);
            fd = CreateNew(host);
        }
        if (fd < 0) Fail(u"create", path, errno);
        return std::make_unique<PosixWriter>(path, fd, kept_);
    }

    // An advisory lock on the folder itself, which every program that takes
    // one sees, whichever name it reached the folder by.
    std::shared_ptr<void> ClaimFolder(const std::u16string& folder) override {
        const std::string host = Host(folder);
        auto dir = std::make_shared<Fd>(OpenFolderFd(ResolveCase(host).value_or(host)));
        if (dir->get() >= 0 && ::flock(dir->get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            return nullptr;
        return dir;  // open, and so locked, while it lives
    }

    std::optional<FileStamp> StampOf(const std::u16string& path) override {
        // The name as spelt first: the case is matched only when it misses.
        struct stat st;
        auto statAt = [&](const std::string& host) {
            const auto at = held_.Find(host);
            return ::fstatat(at.dir, at.path, &st, 0) == 0;
        };
        const std::string host = Host(path);
        // A lookup that fails leaves the name as spelt, which misses again.
        if (!statAt(host) &&
            !((errno == ENOENT || errno == ENOTDIR) && statAt(ResolveMissing(host).value_or(host))))
            return std::nullopt;
        return StampOfStat(st);
    }

    void ReleaseHeldFolders() override { held_.Release(); }

  private:
    std::string Host(std::u16string_view path) const {
        return hostPaths_ && !HasDrive(path) ? HostOwnPath(path) : HostPath(prefix_, path);
    }

    // The host name for a file that is to be made: an existing name that
    // matches without regard to letter case is used, as on Windows.
    std::string ForCreate(std::u16string_view path, std::u16string_view operation) {
        return Resolved(Host(path), operation, path);
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

    bool IsReadOnly(const std::string& host) const {
        const auto at = held_.Find(host);
        struct stat st;
        return ::fstatat(at.dir, at.path, &st, AT_SYMLINK_NOFOLLOW) == 0 && ReadOnly(st);
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
        if (dir.get() < 0) Fail(u"write", path, errno);
        if (::fsync(dir.get()) != 0) FailFlush(u"write", path, errno);
    }

    // Finds the entry of the folder open at `dir` whose name equals `name`
    // without regard to letter case; the first in listing order when several
    // do, or `name` itself when `exactWins` and it is there. The entries are
    // read directly: opendir(3) would add three system calls to each lookup,
    // and every skin without a descriptor needs one. `unread` is set, with
    // errno, when the folder could not be read to its end.
    static std::optional<std::string> MatchEntry(int dir, const std::string& name, bool exactWins,
                                                 bool& unread) {
        const std::u16string wanted = FromUtf8(name);
        std::optional<std::u16string> best;
        std::string bestName;
        alignas(dirent64) char entries[16 * 1024];
        ssize_t size;
        while ((size = ::getdents64(dir, entries, sizeof entries)) > 0) {
            for (ssize_t at = 0; at < size;) {
                const auto* e = reinterpret_cast<const dirent64*>(entries + at);
                at += e->d_reclen;
                if (!WindowsCanHold(e->d_name)) continue;
                if (exactWins && name == e->d_name) return name;
                const std::u16string candidate = FromUtf8(e->d_name);
                if (!EqualFolded(candidate, wanted)) continue;
                if (!best || ListingOrder(candidate, *best)) {
                    best = candidate;
                    bestName = e->d_name;
                }
            }
        }
        unread = size < 0;
        if (!best) return std::nullopt;
        return bestName;
    }

    // The host path under which `host` exists when names are matched without
    // regard to letter case, as on Windows: the exact name first, then a
    // case-insensitive match per component. Components that match nothing
    // stay as they are, so the caller's system call reports the missing name.
    // A folder on the way that is there but cannot be looked in (too few
    // descriptors, say) is never taken for one without the name: nullopt,
    // with errno set.
    std::optional<std::string> ResolveCase(const std::string& host) const {
        if (host.empty() || Exists(host)) return host;
        return ResolveMissing(host);
    }

    // ResolveCase, or `operation` on `path` fails where it could not look;
    // the kept files are freed first when they may be what it lacked.
    std::string Resolved(const std::string& host, std::u16string_view operation,
                         std::u16string_view path) {
        std::optional<std::string> resolved = ResolveCase(host);
        if (!resolved && ForWantOfRoom(errno) && kept_.Release(static_cast<std::size_t>(-1)))
            resolved = ResolveCase(host);
        if (!resolved) Fail(operation, path, errno);
        return *std::move(resolved);
    }

    // ResolveCase of a `host` that its exact name may not reach.
    std::optional<std::string> ResolveMissing(const std::string& host) const {
        const std::string parent = Parent(host);
        if (parent == host) return host;
        const std::string name = host.substr(host.find_last_of('/') + 1);
        auto joined = [](const std::string& folder, const std::string& entry) {
            return (folder == "/" ? "/" : folder + "/") + entry;
        };
        auto missing = [] { return errno == ENOENT || errno == ENOTDIR; };
        if (name.empty() || name == "." || name == "..") {
            std::optional<std::string> resolvedParent = ResolveCase(parent);
            if (!resolvedParent) return std::nullopt;
            return joined(*resolvedParent, name);
        }
        // The parent is nearly always there as spelled; opening it is then
        // all the check it needs, and `name` itself, if there, is the answer.
        Fd dir(OpenFolderFd(parent));
        const bool exact = dir.get() >= 0;
        if (!exact && !missing()) return std::nullopt;
        std::optional<std::string> resolvedParent = exact ? parent : ResolveCase(parent);
        if (!resolvedParent) return std::nullopt;
        if (!exact && *resolvedParent != parent) {
            dir.reset(OpenFolderFd(*resolvedParent));
            if (dir.get() < 0 && !missing()) return std::nullopt;
        }
        if (dir.get() < 0) return joined(*resolvedParent, name);
        bool unread = false;
        std::optional<std::string> entry = MatchEntry(dir.get(), name, exact, unread);
        if (unread) {
            const int error = errno;
            dir.reset();
            errno = error;
            return std::nullopt;
        }
        return joined(*resolvedParent, entry.value_or(name));
    }

    // open(2) of an existing file: the exact name first, then the name
    // matched without regard to letter case. Sets errno on failure.
    int OpenExisting(std::u16string_view path, int flags) const {
        const std::string host = Host(path);
        int fd = OpenFile(host, flags);
        if (fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) return fd;
        const int error = errno;
        const std::optional<std::string> resolved = ResolveMissing(host);
        if (!resolved) return -1;
        if (*resolved == host) {
            errno = error;
            return -1;
        }
        return OpenFile(*resolved, flags);
    }

    // Takes away the copies onto `host` that a run cut short left. Best-effort.
    void RemoveLeftoversOf(const std::string& host) const {
        Fd dir(OpenFolderFd(Parent(host)));
        if (dir.get() < 0) return;
        const std::u16string target = FromUtf8(host.substr(host.find_last_of('/') + 1));
        alignas(dirent64) char entries[16 * 1024];
        std::vector<std::string> leftovers;
        for (ssize_t size; (size = ::getdents64(dir.get(), entries, sizeof entries)) > 0;)
            for (ssize_t at = 0; at < size;) {
                const auto* e = reinterpret_cast<const dirent64*>(entries + at);
                at += e->d_reclen;
                if (IsCopyLeftover(FromUtf8(e->d_name), target)) leftovers.push_back(e->d_name);
            }
        for (const std::string& name : leftovers) ::unlinkat(dir.get(), name.c_str(), 0);
    }

    // A new file at `host`, made exclusively: whatever is at the name (a
    // link, a FIFO) fails it, and it is never opened. Sets errno on failure.
    int CreateNew(const std::string& host) {
        const auto at = held_.Find(host);
        return kept_.Retried([&] {
            return ::openat(at.dir, at.path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0666);
        });
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
        // A listing of subfolders begins a survey, a scan or a copy: it finds
        // the folder by name, and holds it in the place of the last one.
        if (folders) held_.Release();
        const std::string host = Host(folder);
        DIR* d = OpenFolder(host);
        if (d == nullptr && (errno == ENOENT || errno == ENOTDIR)) {
            const std::string resolved = Resolved(host, u"list", folder);
            if (resolved != host) d = OpenFolder(resolved);
        }
        if (d == nullptr) Fail(u"list", folder, errno);
        std::unique_ptr<DIR, int (*)(DIR*)> open(d, ::closedir);
        // The files below the folders listed are what is opened next.
        if (folders) held_.Hold(host, ::dirfd(d));
        std::vector<std::u16string> names;
        errno = 0;
        while (const dirent* e = ::readdir(d)) {
            const std::string_view name(e->d_name);
            if (name == "." || name == ".." || !WindowsCanHold(name)) continue;
            bool isFile = false;
            const bool isFolder = IsDirectoryEntry(::dirfd(d), e, &isFile);
            if (folders ? isFolder : isFile) {
                std::u16string& entry = names.emplace_back();
                entry.reserve(prefix.size() + name.size());
                entry = prefix;
                AppendFromUtf8(entry, name);
            }
            errno = 0;
        }
        if (errno != 0) Fail(u"list", folder, errno);
        SortListing(names, prefix.size());
        return names;
    }

  private:
    std::string prefix_;
    bool hostPaths_;  // a path without a drive letter is the host's own
    HeldFolders held_;
    KeptFiles kept_;
};

}  // namespace

std::string DefaultWinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string HostPath(const std::string& prefix, std::u16string_view path) {
    // The program has no Windows current folder: C:\ stands for it, so that a
    // path without a drive, or with a drive and no root, stays inside the
    // prefix.
    char drive = 'c';
    if (HasDrive(path)) {
        drive = static_cast<char>(path[0] | 0x20);
        path.remove_prefix(2);
    }
    std::string host;
    host.reserve(prefix.size() + path.size() + 16);
    host += prefix;
    host += "/dosdevices/";
    host += drive;
    host += ':';
    const std::size_t root = host.size();
    // Nearly every path has no name that begins with a dot: it is copied.
    bool dotted = false;
    for (std::size_t i = 0; i < path.size() && !dotted; ++i)
        dotted = path[i] == u'.' && (i == 0 || path[i - 1] == u'\\' || path[i - 1] == u'/');
    if (!dotted) {
        if (!path.empty() && path[0] != u'\\' && path[0] != u'/') host += '/';
        AppendUtf8(host, path);
        std::replace(host.begin() + static_cast<std::ptrdiff_t>(root), host.end(), '\\', '/');
        // A trailing separator names the same folder; drop it so that
        // parents and names split cleanly.
        while (host.size() > root && host.back() == '/') host.pop_back();
        return host;
    }
    // As Windows makes a path full: "." names the folder it is in, and ".."
    // the one above, but never more than the drive's root.
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find_first_of(u"\\/", start);
        if (end == std::u16string_view::npos) end = path.size();
        const std::u16string_view name = path.substr(start, end - start);
        if (name == u"..") {
            if (host.size() > root) host.resize(host.find_last_of('/'));
        } else if (!name.empty() && name != u".") {
            host += '/';
            AppendUtf8(host, name);
        }
        start = end + 1;
    }
    return host;
}

std::unique_ptr<FileSystem> MakePosixFileSystem(std::string prefix) {
    return std::make_unique<PosixFileSystem>(std::move(prefix), false);
}

std::unique_ptr<FileSystem> MakeSystemFileSystem(const RetryClock&) {
    return std::make_unique<PosixFileSystem>(DefaultWinePrefix(), true);
}

}  // namespace dsu::platform
