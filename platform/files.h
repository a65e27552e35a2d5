// File services: listings, file operations and line-oriented text files, on
// full Windows-form paths. Every operation throws FileError on failure; the
// caller decides whether that skips a step or ends the event.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/retry.h"

namespace dsu::platform {

// Reads 8-bit text line by line. A line ends at a carriage return, and a line
// feed right behind it is dropped too; a line feed alone is an ordinary byte.
class TextReader {
  public:
    virtual ~TextReader() = default;
    // True when nothing is left to read.
    virtual bool AtEnd() = 0;
    // The next line, without its end, into `line` (whose storage is reused).
    // Throws FileError when reading past the end or when the read fails.
    virtual void ReadLine(std::string& line) = 0;
    // As ReadLine, but trims spaces (code 32) from both ends of the line and
    // keeps at most `limit` bytes of what is left, passing over the rest, so
    // that a huge line is never held. The trimmed spaces are counted, never
    // stored, and do not count against the limit. False when it was cut.
    virtual bool ReadTrimmedLineUpTo(std::string& line, std::size_t limit) = 0;
    virtual void Close() = 0;
};

// Writes 8-bit text; every line ends in CR LF.
class TextWriter {
  public:
    virtual ~TextWriter() = default;
    virtual void WriteLine(std::string_view line) = 0;
    // Puts everything written so far on stable storage.
    virtual void Flush() = 0;
    virtual void Close() = 0;
};

// The most old files that replaces keep open for ReleaseReplaced: as many as
// the update run has descriptors in flight.
inline constexpr std::size_t kKeptReplaced = 512;

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The immediate subfolders of `folder`, each as a full path without a
    // trailing "\", every one once, in ListingOrder of their names.
    virtual std::vector<std::u16string> ListSubfolders(const std::u16string& folder) = 0;
    // The subfolders of ListSubfolders, in the order the system lists them,
    // handed to `found` a batch at a time as the listing goes on: work that
    // does not depend on their order can then start before a large folder is
    // listed whole. Fails as ListSubfolders does, maybe after some batches.
    virtual void ListSubfoldersAsFound(
        const std::u16string& folder,
        const std::function<void(std::vector<std::u16string>&&)>& found) {
        found(ListSubfolders(folder));
    }
    // The names of the files directly in `folder`, in ListingOrder.
    virtual std::vector<std::u16string> ListFiles(const std::u16string& folder) = 0;
    // Creates one folder; fails when it exists or its parent is missing.
    virtual void MakeFolder(const std::u16string& path) = 0;
    // Copies one file, replacing an existing target.
    virtual void CopyFile(const std::u16string& source, const std::u16string& target) = 0;
    virtual void DeleteFile(const std::u16string& path) = 0;
    // Puts `from` in the place of `to` in one atomic step: at every moment `to`
    // is either its old or its new file. The change may reach stable storage
    // only with FlushReplace(to), so that many replaces can be made durable
    // together.
    virtual void ReplaceFile(const std::u16string& from, const std::u16string& to) = 0;
    // Puts the replaces made onto `to` (and all else changed in its folder)
    // on stable storage.
    virtual void FlushReplace(const std::u16string& to) = 0;
    // Frees up to `atMost` of the old files that replaces have kept. Where
    // freeing a file waits on the disk, ReplaceFile may keep the old one open
    // (up to kKeptReplaced at once) rather than wait, so that the thread that
    // replaces in order need not; any thread may then free them here.
    virtual void ReleaseReplaced(std::size_t atMost) { static_cast<void>(atMost); }

    // Opens an existing file for reading; null when no file (a folder, or
    // nothing) is at `path`.
    virtual std::unique_ptr<TextReader> TryOpenReader(const std::u16string& path) = 0;
    // Creates the file, or empties an existing one.
    virtual std::unique_ptr<TextWriter> CreateWriter(const std::u16string& path) = 0;

    // Keeps `folder` open while the handle returned lives, where the platform
    // gains from it: paths below it are then walked from the folder itself,
    // not from the root, each time. A folder moved or replaced meanwhile is
    // still the one reached. Never fails: without a hold, or with null, the
    // paths are walked in full.
    virtual std::shared_ptr<void> HoldFolder(const std::u16string& folder) {
        static_cast<void>(folder);
        return nullptr;
    }
};

// ListSubfolders and ListFiles of a FileSystem, from one listing of either
// kind of entry.
class ListingFileSystem : public FileSystem {
  public:
    std::vector<std::u16string> ListSubfolders(const std::u16string& folder) final;
    std::vector<std::u16string> ListFiles(const std::u16string& folder) final;

  protected:
    // The names of the subfolders (or the files) directly in `folder`, every
    // one once, in ListingOrder, each after `prefix`: the full paths are then
    // made with the names, not copied again.
    virtual std::vector<std::u16string> ListNames(const std::u16string& folder, bool folders,
                                                  std::u16string_view prefix) = 0;
};

// The file services of the platform the program runs on. On Windows, a file
// that another program holds for a moment is waited for on `clock` (which
// must outlive them); POSIX has no such locks.
std::unique_ptr<FileSystem> MakeSystemFileSystem(const RetryClock& clock = SystemRetryClock());

}  // namespace dsu::platform
