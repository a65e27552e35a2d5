// File services: listings, file operations and line-oriented text files, on
// full Windows-form paths. Every operation throws FileError on failure; the
// caller decides whether that skips a step or ends the event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/retry.h"

namespace dsu::platform {

// Which file a name led to and the state of its content: the same stamp
// later means that nobody has written the file meanwhile.
struct FileStamp {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::uint64_t time = 0;  // of the last change, in the system's own units
    bool operator==(const FileStamp&) const = default;
};

// Reads 8-bit text line by line. A line ends at a carriage return, and a line
// feed right behind it is dropped too; a line feed alone is an ordinary byte.
class TextReader {
  public:
    virtual ~TextReader() = default;
    // True when nothing is left to read.
    virtual bool AtEnd() = 0;
    // The next at most `limit` bytes of the current line into `part` (whose
    // storage is reused), so that a huge line is never held. True when they
    // end the line, whose end is then passed; false when more of it follows,
    // and the next call goes on with it. Throws FileError when reading past
    // the end or when the read fails.
    virtual bool ReadLinePart(std::string& part, std::size_t limit) = 0;
    // Trims spaces (code 32) from both ends of the next line and keeps at
    // most `limit` bytes of what is left, passing over the rest. The trimmed
    // spaces are counted, never stored, and do not count against the limit.
    // False when it was cut.
    virtual bool ReadTrimmedLineUpTo(std::string& line, std::size_t limit) = 0;
    // The open file's stamp.
    virtual FileStamp Stamp() = 0;
    virtual void Close() = 0;
};

// Writes 8-bit text; every line ends in CR LF.
class TextWriter {
  public:
    virtual ~TextWriter() = default;
    // Text of the current line; WriteLine ends it.
    virtual void Write(std::string_view text) = 0;
    virtual void WriteLine(std::string_view line) = 0;
    // Puts everything written so far on stable storage.
    virtual void Flush() = 0;
    virtual void Close() = 0;
};

// What CreateWriter does with an entry already at its path.
enum class Existing {
    // Fails the create ("File exists"): work done ahead of its turn never
    // touches what it did not make.
    Keep,
    // A file or a link there is removed as a name, never written through,
    // and a new file made in its place.
    Replace,
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The immediate subfolders of `folder`, each as a full path without a
    // trailing "\", every one once, in ListingOrder of their names.
    virtual std::vector<std::u16string> ListSubfolders(const std::u16string& folder) = 0;
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

    // Opens an existing file for reading; null when no file (a folder, or
    // nothing) is at `path`.
    virtual std::unique_ptr<TextReader> TryOpenReader(const std::u16string& path) = 0;
    // Creates a new file, never through a link; an entry already at `path`
    // goes as `existing` says. A folder, a FIFO or a device there fails the
    // create ("Not a regular file"), and nothing ever blocks on one.
    virtual std::unique_ptr<TextWriter> CreateWriter(const std::u16string& path,
                                                     Existing existing) = 0;
    // The stamp of the file at `path`; nullopt when there is none or it
    // cannot be had.
    virtual std::optional<FileStamp> StampOf(const std::u16string& path) = 0;
    // Claims `folder` while the handle returned lives, without writing
    // anything into it, so that a second program working on the same folder
    // is told. Null when another holds it. A claim that cannot be made is
    // granted all the same, as the folder's own operations then report what
    // is wrong.
    virtual std::shared_ptr<void> ClaimFolder(const std::u16string& folder) = 0;
    // Lets go of the folders it holds open to reach the paths below them
    // faster (on Linux, the one it last listed), so that the next event
    // finds every folder by its name: one renamed meanwhile is not the one
    // that name means any more.
    virtual void ReleaseHeldFolders() {}
};

// A copy is written beside its target under the target's name, this text and
// 16 random hexadecimal digits: a name no file of a player's has, so that a
// later copy onto the same target may take away one left by a run cut short.
inline constexpr std::u16string_view kCopyMark = u".dsu.";
// kCopyMark and new random digits, to follow a target's name.
std::u16string NewCopySuffix();
// `value` as 16 hexadecimal digits.
std::u16string HexDigits(std::uint64_t value);
inline bool IsCopyLeftover(std::u16string_view name, std::u16string_view target) {
    if (name.size() != target.size() + kCopyMark.size() + 16 || !name.starts_with(target) ||
        name.substr(target.size(), kCopyMark.size()) != kCopyMark)
        return false;
    for (const char16_t c : name.substr(target.size() + kCopyMark.size()))
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
    return true;
}

// The reason of a failure on something that is not a file: a FIFO or a
// device, which could be waited on or read without end, or a folder.
inline constexpr std::u16string_view kNotAFile = u"Not a regular file";

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
