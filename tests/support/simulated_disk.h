// A disk in memory behind the FileSystem interface that knows, besides what
// the process sees, what a power cut would leave behind. File data survives
// only once flushed; a change to a folder's entries survives on Linux only
// once the folder is flushed, and on Windows at random. Each interface call
// is modelled by the system calls its implementation makes, and every
// changing call is a step at which the power can be cut. Calls may come from
// several threads at once, as from the program's work pool.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tools/install.h"

namespace dsu::testing {

using DiskTree = install::Tree;
using install::ReadTree;
using install::WriteTree;

enum class DiskModel { Linux, Windows };

// Thrown when the power is cut. Not a Failure: nothing in the program
// catches it, as nothing runs on after a power cut.
struct PowerCut {};

class SimulatedDisk final : public platform::ListingFileSystem {
  public:
    struct Options {
        DiskModel model = DiskModel::Linux;
        // Whether CopyFile flushes the copy's data before putting it in place.
        bool copyFlushesData = true;
    };

    // Paths are "<drive>\..." with `drive` such as u"C:"; the drive holds
    // `initial`, all of it on stable storage.
    SimulatedDisk(Options options, std::u16string drive, const DiskTree& initial);
    ~SimulatedDisk() override;

    // Cuts the power at the attempt of step `steps` + 1; negative: never.
    void CutPowerAfter(long steps) { cutAfter_ = steps; }
    long Steps() const {
        std::lock_guard lock(mutex_);
        return steps_;
    }

    // What the process sees now.
    DiskTree Visible() const;
    // One of the trees a power cut now could leave, drawn with `random`.
    DiskTree AfterPowerCut(std::mt19937& random) const;

    void MakeFolder(const std::u16string& path) override;
    void CopyFile(const std::u16string& source, const std::u16string& target) override;
    void DeleteFile(const std::u16string& path) override;
    void ReplaceFile(const std::u16string& from, const std::u16string& to) override;
    void FlushReplace(const std::u16string& to) override;
    std::unique_ptr<platform::TextReader> TryOpenReader(const std::u16string& path) override;
    std::unique_ptr<platform::TextWriter> CreateWriter(const std::u16string& path,
                                                       platform::Existing existing) override;
    std::optional<platform::FileStamp> StampOf(const std::u16string& path) override;
    // One program works on the modelled disk.
    std::shared_ptr<void> ClaimFolder(const std::u16string&) override {
        return std::make_shared<int>();
    }

    // A rename that never replaces an existing `to` (link(2) then unlink(2)
    // on Linux): the old way of putting a rewritten descriptor in place,
    // which the power-cut test shows to be unsafe.
    void RenameFile(const std::u16string& from, const std::u16string& to);

    // Internal, for the writer.
    void Step();
    void Append(int inode, const char* data, std::size_t size);
    void Sync(int inode);

  private:
    struct Inode {
        std::string live;
        std::string durable;
    };
    struct Entry {
        std::u16string name;  // as named, for listings
        bool folder = false;
        int inode = -1;
    };
    // One folder change that reaches the disk whole or not at all.
    struct Change {
        std::u16string key;
        std::optional<Entry> entry;  // nullopt: the name goes
    };
    struct Record {
        std::u16string folder;  // key of the folder whose entries change
        std::vector<Change> changes;
        bool durable = false;
    };
    using Names = std::map<std::u16string, Entry>;

    static std::u16string Key(std::u16string_view path);
    static std::u16string ParentKey(const std::u16string& key);
    const Entry* Find(const std::u16string& path) const;
    std::vector<std::u16string> ListNames(const std::u16string& folder, bool folders,
                                          std::u16string_view prefix) override;
    // Throws FileError as the system would when `path`'s folder is missing.
    void RequireParent(std::u16string_view operation, const std::u16string& path) const;
    const Entry& RequireFile(std::u16string_view operation, const std::u16string& path) const;
    // Applies `changes` to what the process sees and logs them.
    void Apply(std::vector<Change> changes, const std::u16string& folder, bool durable);
    std::string RelativePath(const Names& names, const std::u16string& key) const;
    void SyncFolder(const std::u16string& key);
    bool Random(std::mt19937& random) const;
    DiskTree ToTree(const Names& names, const std::vector<std::string>& data) const;
    int NewInode();

    Options options_;
    std::u16string drive_;
    std::vector<Inode> inodes_;
    Names base_;  // on stable storage before the first step
    Names live_;
    std::vector<Record> log_;
    long steps_ = 0;
    unsigned long long copies_ = 0;
    long cutAfter_ = -1;
    // Recursive: calls such as CopyFile take their steps through Step().
    mutable std::recursive_mutex mutex_;
};

}  // namespace dsu::testing
