#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>

#include "platform/buffered_file.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/retry.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace dsu::platform {

namespace {

[[noreturn]] void Fail(std::u16string_view operation, std::u16string_view path,
                       DWORD error = GetLastError()) {
    throw FileError(operation, path, SystemErrorText(error), error);
}

// The name handed to the system. Long paths get the "\\?\" form, which
// lifts the 260-character limit but also the system's path clean-up, so the
// path is made full and clean first.
std::u16string SystemPath(const std::u16string& path) {
    if (path.size() < MAX_PATH - 12) return path;
    if (path.rfind(u"\\\\?\\", 0) == 0) return path;
    const DWORD n = GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::u16string full(n, u'\0');
    const DWORD written =
        GetFullPathNameW(Wide(path), n, reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (written == 0 || written >= n) return path;
    full.resize(written);
    if (full.rfind(u"\\\\", 0) == 0) return u"\\\\?\\UNC\\" + full.substr(2);
    return u"\\\\?\\" + full;
}

// Whether a failure looks like another program holding one of `paths` for a
// moment (a scanner, an indexer, a sync client) rather than a lasting
// refusal. Access denied is also the answer for a read-only file or a folder,
// which no wait mends. Wine answers a replace of a held file that way too.
bool HeldByAnother(DWORD error, std::initializer_list<const std::u16string*> paths) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    return std::none_of(paths.begin(), paths.end(), [](const std::u16string* path) {
        const DWORD attributes = GetFileAttributesW(Wide(*path));
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
    });
}

// Makes one system call, and again while another program holds one of
// `paths` (system names). True when it succeeded; otherwise GetLastError()
// gives the last try's reason.
template <class Call>
bool Retrying(const RetryClock& clock, std::initializer_list<const std::u16string*> paths,
              Call&& call) {
    DWORD error = ERROR_SUCCESS;
    const TryOutcome outcome = RetryWhileHeld(clock, [&] {
        if (call()) return TryOutcome::Done;
        error = GetLastError();
        return HeldByAnother(error, paths) ? TryOutcome::Held : TryOutcome::Failed;
    });
    if (outcome == TryOutcome::Done) return true;
    SetLastError(error);
    return false;
}

// CreateFileW under the retries: the handle, or INVALID_HANDLE_VALUE.
HANDLE OpenRetrying(const RetryClock& clock, const std::u16string& name, DWORD access, DWORD share,
                    DWORD disposition, DWORD flags) {
    HANDLE h = INVALID_HANDLE_VALUE;
    Retrying(clock, {&name}, [&] {
        h = CreateFileW(Wide(name), access, share, nullptr, disposition, flags, nullptr);
        return h != INVALID_HANDLE_VALUE;
    });
    return h;
}

class Handle {
  public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (valid()) CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE));
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

  private:
    HANDLE h_;
};

// The stamp of the file open at `h`; false when it cannot be had.
bool StampOfHandle(HANDLE h, FileStamp& stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    auto wide = [](DWORD high, DWORD low) {
        return (static_cast<std::uint64_t>(high) << 32) | static_cast<std::uint64_t>(low);
    };
    stamp = {.volume = info.dwVolumeSerialNumber,
             .file = wide(info.nFileIndexHigh, info.nFileIndexLow),
             .size = wide(info.nFileSizeHigh, info.nFileSizeLow),
             .time = wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)};
    return true;
}

class WinReader final : public BufferedTextReader {
  public:
    WinReader(std::u16string path, HANDLE h) : BufferedTextReader(std::move(path)), h_(h) {}
    void Close() override { h_.reset(); }
    FileStamp Stamp() override {
        FileStamp stamp;
        if (!StampOfHandle(h_.get(), stamp)) Fail(u"read", Path());
        return stamp;
    }

  protected:
    std::size_t ReadRaw(char* buffer, std::size_t capacity) override {
        DWORD n = 0;
        if (!::ReadFile(h_.get(), buffer, static_cast<DWORD>(capacity), &n, nullptr))
            Fail(u"read", Path());
        return n;
    }

  private:
    Handle h_;
};

class WinWriter final : public BufferedTextWriter {
  public:
    WinWriter(std::u16string path, HANDLE h) : BufferedTextWriter(std::move(path)), h_(h) {}

  protected:
    void WriteRaw(const char* data, std::size_t size) override {
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD n = 0;
            if (!::WriteFile(h_.get(), data, chunk, &n, nullptr)) Fail(u"write", Path());
            data += n;
            size -= n;
        }
    }
    void SyncRaw() override {
        if (!FlushFileBuffers(h_.get())) {
            const DWORD error = GetLastError();
            throw FlushError(u"write", Path(), SystemErrorText(error), error);
        }
    }
    void CloseRaw() override {
        if (!CloseHandle(h_.release())) Fail(u"write", Path());
    }

  private:
    Handle h_;
};

// Puts a file's data on stable storage. FlushFileBuffers needs write access,
// which a copy of a read-only file lacks until the attribute is lifted.
DWORD FlushCopy(const RetryClock& clock, const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetFileAttributesW(Wide(path), attributes & ~FILE_ATTRIBUTE_READONLY))
        return GetLastError();
    DWORD error = ERROR_SUCCESS;
    {
        Handle h(OpenRetrying(clock, path, GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
        if (!h.valid() || !FlushFileBuffers(h.get())) error = GetLastError();
    }
    if (readOnly && !SetFileAttributesW(Wide(path), attributes) && error == ERROR_SUCCESS)
        error = GetLastError();
    return error;
}

bool IsFolderAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class WinFileSystem final : public ListingFileSystem {
  public:
    explicit WinFileSystem(const RetryClock& clock) : clock_(clock) {}

    void MakeFolder(const std::u16string& path) override {
        if (!CreateDirectoryW(Wide(SystemPath(path)), nullptr)) Fail(u"make folder", path);
    }

    void CopyFile(const std::u16string& source, const std::u16string& target) override {
        // The copy is written beside the target and swapped in whole, so that
        // the target is never left half-written; under a new name, made
        // exclusively, so that it takes the place of no file of the player's.
        const std::u16string from = SystemPath(source);
        RemoveLeftoversOf(target);
        std::u16string temporary;
        for (int tries = 0;; ++tries) {
            temporary = SystemPath(target + NewCopySuffix());
            if (Retrying(clock_, {&from, &temporary},
                         [&] { return CopyFileW(Wide(from), Wide(temporary), TRUE); }))
                break;
            const DWORD error = GetLastError();
            const bool clash = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
            if (clash && tries < 8) continue;
            // A clash is another's file; anything else may have left a part.
            if (!clash) Delete(temporary);
            Fail(u"copy", source, error);
        }
        // CopyFileW leaves the data in the cache; renamed into place before it
        // is on stable storage, a power cut could leave an empty target.
        if (const DWORD error = FlushCopy(clock_, temporary); error != ERROR_SUCCESS) {
            Delete(temporary);
            Fail(u"copy", target, error);
        }
        if (!Move(temporary, SystemPath(target), MOVEFILE_REPLACE_EXISTING)) {
            const DWORD error = GetLastError();
            Delete(temporary);
            Fail(u"copy", target, error);
        }
    }

    void DeleteFile(const std::u16string& path) override {
        if (!Delete(SystemPath(path))) Fail(u"delete", path);
    }

    void ReplaceFile(const std::u16string& from, const std::u16string& to) override {
        if (!Move(SystemPath(from), SystemPath(to), MOVEFILE_REPLACE_EXISTING))
            Fail(u"replace", to);
    }

    // MOVEFILE_WRITE_THROUGH has made the replace durable already.
    void FlushReplace(const std::u16string&) override {}

    std::unique_ptr<TextReader> TryOpenReader(const std::u16string& path) override {
        HANDLE h = Open(path);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return nullptr;
            // Opening a folder as a file is refused as access denied.
            if (error == ERROR_ACCESS_DENIED &&
                IsFolderAttributes(GetFileAttributesW(Wide(SystemPath(path)))))
                return nullptr;
            Fail(u"open", path, error);
        }
        return std::make_unique<WinReader>(path, h);
    }

    std::unique_ptr<TextWriter> CreateWriter(const std::u16string& path,
                                             Existing existing) override {
        const std::u16string name = SystemPath(path);
        auto create = [&] {
            return OpenRetrying(clock_, name, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        };
        HANDLE h = create();
        // A file or a link in the way is removed as a name, never opened; a
        // folder is refused as a create over it always was.
        for (int tries = 0; h == INVALID_HANDLE_VALUE && existing == Existing::Replace; ++tries) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
            const DWORD attributes = GetFileAttributesW(Wide(name));
            if (IsFolderAttributes(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
                Fail(u"create", path, ERROR_ACCESS_DENIED);
            if (!Delete(name) && GetLastError() != ERROR_FILE_NOT_FOUND) Fail(u"create", path);
            if (tries == 8) Fail(u"create", path, error);
            h = create();
        }
        if (h == INVALID_HANDLE_VALUE) Fail(u"create", path);
        return std::make_unique<WinWriter>(path, h);
    }

    // A named mutex for the folder itself, named by its volume's serial
    // number and its file ID, so that every spelling of it (a subst drive, a
    // junction, a short name) meets one claim; in the global namespace where
    // this program may make one, so that it holds across sessions. A mutex
    // this program may not open (another user's, an elevated program's) is
    // held. A claim that cannot be made is granted, as the folder's own
    // operations then report what is wrong.
    std::shared_ptr<void> ClaimFolder(const std::u16string& folder) override {
        const auto granted = std::make_shared<int>(0);
        Handle dir(CreateFileW(Wide(SystemPath(folder)), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!dir.valid() || !GetFileInformationByHandle(dir.get(), &info)) return granted;
        const std::u16string id =
            HexDigits(info.dwVolumeSerialNumber) + u"-" +
            HexDigits((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
        for (const std::u16string_view space : {u"Global\\", u"Local\\"}) {
            const std::u16string name = std::u16string(space) + u"DyvenhallSkinUpdater-" + id;
            HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name));
            const DWORD error = GetLastError();
            if (mutex != nullptr) {
                if (error == ERROR_ALREADY_EXISTS) {
                    CloseHandle(mutex);
                    return nullptr;
                }
                // The deleter closes it even when the control block cannot be had.
                return std::shared_ptr<void>(mutex, [](HANDLE h) { CloseHandle(h); });
            }
            if (error != ERROR_ACCESS_DENIED) continue;
            // Denied: a mutex there that is not ours to open, or a namespace
            // this program may not make one in (then the session's is used).
            HANDLE existing = OpenMutexW(SYNCHRONIZE, FALSE, Wide(name));
            const DWORD opened = GetLastError();
            if (existing != nullptr) CloseHandle(existing);
            if (existing != nullptr || opened != ERROR_FILE_NOT_FOUND) return nullptr;
        }
        return granted;
    }

    std::optional<FileStamp> StampOf(const std::u16string& path) override {
        Handle h(CreateFileW(Wide(SystemPath(path)), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FileStamp stamp;
        if (!h.valid() || !StampOfHandle(h.get(), stamp)) return std::nullopt;
        return stamp;
    }

  private:
    // Takes away the copies onto `target` that a run cut short left.
    // Best-effort.
    void RemoveLeftoversOf(const std::u16string& target) const {
        const std::u16string folder = ChopFileOff(target);
        const std::u16string name = target.substr(folder.size());
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileExW(Wide(SystemPath(target + u".dsu.*")), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) return;
        std::vector<std::u16string> leftovers;
        do {
            const std::u16string found = FromWide(data.cFileName, wcslen(data.cFileName));
            if (IsCopyLeftover(found, name)) leftovers.push_back(folder + found);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        for (const std::u16string& leftover : leftovers) Delete(SystemPath(leftover));
    }

    HANDLE Open(const std::u16string& path) const {
        return OpenRetrying(clock_, SystemPath(path), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN);
    }
    bool Delete(const std::u16string& name) const {
        return Retrying(clock_, {&name}, [&] { return DeleteFileW(Wide(name)); });
    }
    // MOVEFILE_WRITE_THROUGH always: the new name is on stable storage when
    // the call returns. Only the target's attributes can make a move denied.
    bool Move(const std::u16string& from, const std::u16string& to, DWORD flags) const {
        // Windows refuses to replace a read-only file; Wine's rename does not,
        // so the attribute is tested here, for one answer on both.
        if ((flags & MOVEFILE_REPLACE_EXISTING) != 0) {
            const DWORD attributes = GetFileAttributesW(Wide(to));
            if (attributes != INVALID_FILE_ATTRIBUTES && !IsFolderAttributes(attributes) &&
                (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                SetLastError(ERROR_ACCESS_DENIED);
                return false;
            }
        }
        return Retrying(clock_, {&to}, [&] {
            return MoveFileExW(Wide(from), Wide(to), flags | MOVEFILE_WRITE_THROUGH);
        });
    }

  protected:
    std::vector<std::u16string> ListNames(const std::u16string& folder, bool folders,
                                          std::u16string_view prefix) override {
        const std::u16string pattern = SystemPath(ResolvePath(folder) + u"*");
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileExW(Wide(pattern), FindExInfoBasic, &data, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE) {
            // A folder without any entry at all still lists, as empty.
            if (GetLastError() == ERROR_FILE_NOT_FOUND) return {};
            Fail(u"list", folder);
        }
        std::vector<std::u16string> names;
        do {
            const std::u16string name = FromWide(data.cFileName, wcslen(data.cFileName));
            if (name == u"." || name == u"..") continue;
            const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isFolder == folders) names.push_back(std::u16string(prefix) + name);
        } while (FindNextFileW(find, &data));
        const DWORD error = GetLastError();
        FindClose(find);
        if (error != ERROR_NO_MORE_FILES) Fail(u"list", folder, error);
        SortListing(names, prefix.size());
        return names;
    }

  private:
    const RetryClock& clock_;
};

}  // namespace

std::unique_ptr<FileSystem> MakeSystemFileSystem(const RetryClock& clock) {
    return std::make_unique<WinFileSystem>(clock);
}

}  // namespace dsu::platform
