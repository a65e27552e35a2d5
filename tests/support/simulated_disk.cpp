#include "tests/support/simulated_disk.h"

#include <algorithm>

#include "platform/buffered_file.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace dsu::testing {

using platform::FileError;

namespace {

class SimulatedReader final : public platform::BufferedTextReader {
  public:
    SimulatedReader(std::u16string path, std::string data, platform::FileStamp stamp)
        : BufferedTextReader(std::move(path)), data_(std::move(data)), stamp_(stamp) {}
    void Close() override {}
    platform::FileStamp Stamp() override { return stamp_; }

  protected:
    std::size_t ReadRaw(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, data_.size() - pos_);
        std::copy_n(data_.data() + pos_, n, buffer);
        pos_ += n;
        return n;
    }

  private:
    std::string data_;
    std::size_t pos_ = 0;
    platform::FileStamp stamp_;
};

class SimulatedWriter final : public platform::BufferedTextWriter {
  public:
    SimulatedWriter(SimulatedDisk& disk, std::u16string path, int inode)
        : BufferedTextWriter(std::move(path)), disk_(disk), inode_(inode) {}

  protected:
    void WriteRaw(const char* data, std::size_t size) override {
        disk_.Step();
        disk_.Append(inode_, data, size);
    }
    void SyncRaw() override {
        disk_.Step();
        disk_.Sync(inode_);
    }
    void CloseRaw() override {}

  private:
    SimulatedDisk& disk_;
    int inode_;
};

}  // namespace

SimulatedDisk::SimulatedDisk(Options options, std::u16string drive, const DiskTree& initial)
    : options_(options), drive_(std::move(drive)) {
    for (const auto& [rel, content] : initial) {
        std::u16string path = drive_ + u"\\" + platform::FromUtf8(rel);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        // Folders a tree names only by what they hold exist too.
        for (auto slash = path.find(u'\\', drive_.size() + 1); slash != std::u16string::npos;
             slash = path.find(u'\\', slash + 1)) {
            const std::u16string folder = path.substr(0, slash);
            base_.try_emplace(Key(folder), Entry{platform::ChopPathOff(folder), true, -1});
        }
        Entry entry{platform::ChopPathOff(path), !content.has_value(), -1};
        if (content) {
            entry.inode = NewInode();
            inodes_[entry.inode] = {*content, *content};
        }
        base_[Key(path)] = entry;
    }
    live_ = base_;
}

SimulatedDisk::~SimulatedDisk() = default;

std::u16string SimulatedDisk::Key(std::u16string_view path) {
    return platform::FoldCase(platform::UnResolvePath(path));
}

std::u16string SimulatedDisk::ParentKey(const std::u16string& key) {
    const auto slash = key.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : key.substr(0, slash);
}

int SimulatedDisk::NewInode() {
    inodes_.emplace_back();
    return static_cast<int>(inodes_.size() - 1);
}

void SimulatedDisk::Step() {
    std::lock_guard lock(mutex_);
    if (cutAfter_ >= 0 && steps_ >= cutAfter_) throw PowerCut{};
    ++steps_;
}

void SimulatedDisk::Append(int inode, const char* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    inodes_[inode].live.append(data, size);
}

void SimulatedDisk::Sync(int inode) {
    std::lock_guard lock(mutex_);
    inodes_[inode].durable = inodes_[inode].live;
}

const SimulatedDisk::Entry* SimulatedDisk::Find(const std::u16string& path) const {
    const auto it = live_.find(Key(path));
    return it == live_.end() ? nullptr : &it->second;
}

void SimulatedDisk::RequireParent(std::u16string_view operation, const std::u16string& path) const {
    const std::u16string parent = ParentKey(Key(path));
    if (parent == Key(drive_)) return;
    const auto it = live_.find(parent);
    if (it == live_.end() || !it->second.folder)
        throw FileError(operation, path, u"The system cannot find the path specified");
}

const SimulatedDisk::Entry& SimulatedDisk::RequireFile(std::u16string_view operation,
                                                       const std::u16string& path) const {
    const Entry* entry = Find(path);
    if (entry == nullptr) throw FileError(operation, path, u"No such file or directory");
    if (entry->folder) throw FileError(operation, path, u"Is a directory");
    return *entry;
}

void SimulatedDisk::Apply(std::vector<Change> changes, const std::u16string& folder, bool durable) {
    for (const Change& c : changes) {
        if (c.entry)
            live_[c.key] = *c.entry;
        else
            live_.erase(c.key);
    }
    log_.push_back({folder, std::move(changes), durable});
}

void SimulatedDisk::SyncFolder(const std::u16string& key) {
    for (Record& r : log_)
        if (r.folder == key) r.durable = true;
}

std::vector<std::u16string> SimulatedDisk::ListNames(const std::u16string& folder, bool folders,
                                                     std::u16string_view prefix) {
    std::lock_guard lock(mutex_);
    const std::u16string key = Key(folder);
    if (key != Key(drive_)) {
        const auto it = live_.find(key);
        if (it == live_.end() || !it->second.folder)
            throw FileError(u"list", folder, u"No such file or directory");
    }
    std::vector<std::u16string> names;
    for (const auto& [k, e] : live_)
        if (e.folder == folders && ParentKey(k) == key)
            names.push_back(std::u16string(prefix) + e.name);
    platform::SortListing(names, prefix.size());
    return names;
}

void SimulatedDisk::MakeFolder(const std::u16string& path) {
    std::lock_guard lock(mutex_);
    if (Find(path) != nullptr) throw FileError(u"make folder", path, u"File exists");
    RequireParent(u"make folder", path);
    Step();
    const std::u16string key = Key(path);
    Apply({{key, Entry{platform::ChopPathOff(platform::UnResolvePath(path)), true, -1}}},
          ParentKey(key), false);
}

void SimulatedDisk::CopyFile(const std::u16string& source, const std::u16string& target) {
    std::lock_guard lock(mutex_);
    const std::string data = inodes_[RequireFile(u"copy", source).inode].live;
    RequireParent(u"copy", target);
    if (const Entry* t = Find(target); t != nullptr && t->folder)
        throw FileError(u"copy", target, u"Is a directory");
    const std::u16string folder = ParentKey(Key(target));
    // Both implementations take away what an earlier copy cut short left,
    // write the copy beside the target under a new name, then rename it over
    // the target.
    const std::u16string name = platform::ChopPathOff(target);
    std::vector<std::u16string> leftovers;
    for (const auto& [key, entry] : live_)
        if (ParentKey(key) == folder && platform::IsCopyLeftover(entry.name, name))
            leftovers.push_back(key);
    for (const std::u16string& key : leftovers) {
        Step();
        Apply({{key, std::nullopt}}, folder, false);
    }
    wchar_t digits[17];
    std::swprintf(digits, 17, L"%016llx", static_cast<unsigned long long>(++copies_));
    const std::u16string temporary =
        target + std::u16string(platform::kCopyMark) + std::u16string(digits, digits + 16);
    Step();
    const int inode = NewInode();
    Apply({{Key(temporary), Entry{platform::ChopPathOff(temporary), false, inode}}}, folder, false);
    Step();
    inodes_[inode].live = data;
    if (options_.copyFlushesData) {
        Step();
        Sync(inode);
    }
    Step();
    Apply({{Key(target), Entry{platform::ChopPathOff(target), false, inode}},
           {Key(temporary), std::nullopt}},
          folder, false);
    if (options_.model == DiskModel::Linux) {
        Step();
        SyncFolder(folder);
    }
}

void SimulatedDisk::DeleteFile(const std::u16string& path) {
    std::lock_guard lock(mutex_);
    RequireFile(u"delete", path);
    Step();
    const std::u16string key = Key(path);
    Apply({{key, std::nullopt}}, ParentKey(key), false);
}

void SimulatedDisk::RenameFile(const std::u16string& from, const std::u16string& to) {
    std::lock_guard lock(mutex_);
    const Entry entry = RequireFile(u"rename", from);
    RequireParent(u"rename", to);
    if (Find(to) != nullptr) throw FileError(u"rename", from, u"File exists");
    const std::u16string folder = ParentKey(Key(to));
    const Change link{Key(to), Entry{platform::ChopPathOff(to), false, entry.inode}};
    const Change unlink{Key(from), std::nullopt};
    if (options_.model == DiskModel::Linux) {
        // link(2), then unlink(2) of the old name: two changes.
        Step();
        Apply({link}, folder, false);
        Step();
        Apply({unlink}, ParentKey(Key(from)), false);
    } else {
        Step();
        Apply({link, unlink}, folder, false);
    }
}

void SimulatedDisk::ReplaceFile(const std::u16string& from, const std::u16string& to) {
    std::lock_guard lock(mutex_);
    const Entry entry = RequireFile(u"replace", from);
    RequireParent(u"replace", to);
    if (const Entry* t = Find(to); t != nullptr && t->folder)
        throw FileError(u"replace", to, u"Is a directory");
    const std::u16string folder = ParentKey(Key(to));
    Step();
    Apply({{Key(to), Entry{platform::ChopPathOff(to), false, entry.inode}},
           {Key(from), std::nullopt}},
          folder, false);
}

void SimulatedDisk::FlushReplace(const std::u16string& to) {
    std::lock_guard lock(mutex_);
    // fsync(2) of the folder on Linux; on Windows the replace itself wrote
    // through, which this model does not trust, and nothing is called.
    if (options_.model != DiskModel::Linux) return;
    Step();
    SyncFolder(ParentKey(Key(to)));
}

std::unique_ptr<platform::TextReader> SimulatedDisk::TryOpenReader(const std::u16string& path) {
    std::lock_guard lock(mutex_);
    const Entry* entry = Find(path);
    if (entry == nullptr || entry->folder) return nullptr;
    return std::make_unique<SimulatedReader>(path, inodes_[entry->inode].live, *StampOf(path));
}

std::unique_ptr<platform::TextWriter> SimulatedDisk::CreateWriter(const std::u16string& path,
                                                                  platform::Existing existing) {
    std::lock_guard lock(mutex_);
    RequireParent(u"create", path);
    const Entry* entry = Find(path);
    const std::u16string key = Key(path);
    if (entry != nullptr && entry->folder) throw FileError(u"create", path, u"Is a directory");
    if (entry != nullptr && existing == platform::Existing::Keep)
        throw FileError(u"create", path, u"File exists");
    if (entry != nullptr) {
        // The name goes first (unlink), then the new file is made.
        Step();
        Apply({{key, std::nullopt}}, ParentKey(key), false);
    }
    Step();
    const int inode = NewInode();
    Apply({{key, Entry{platform::ChopPathOff(path), false, inode}}}, ParentKey(key), false);
    return std::make_unique<SimulatedWriter>(*this, path, inode);
}

std::optional<platform::FileStamp> SimulatedDisk::StampOf(const std::u16string& path) {
    std::lock_guard lock(mutex_);
    const Entry* entry = Find(path);
    if (entry == nullptr || entry->folder) return std::nullopt;
    const Inode& inode = inodes_[entry->inode];
    // Every write changes the size or is a rewrite of a new inode here.
    return platform::FileStamp{.file = static_cast<std::uint64_t>(entry->inode),
                               .size = inode.live.size()};
}

std::string SimulatedDisk::RelativePath(const Names& names, const std::u16string& key) const {
    std::u16string rel;
    for (std::u16string k = key; k != Key(drive_); k = ParentKey(k)) {
        const auto it = names.find(k);
        if (it == names.end()) return {};  // an ancestor is gone
        rel = rel.empty() ? it->second.name : it->second.name + u"/" + rel;
    }
    return platform::ToUtf8(rel);
}

DiskTree SimulatedDisk::ToTree(const Names& names, const std::vector<std::string>& data) const {
    DiskTree tree;
    for (const auto& [key, entry] : names) {
        const std::string rel = RelativePath(names, key);
        if (rel.empty()) continue;  // lost with its folder
        if (entry.folder)
            tree[rel] = std::nullopt;
        else
            tree[rel] = data[entry.inode];
    }
    return tree;
}

DiskTree SimulatedDisk::Visible() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> data;
    for (const Inode& i : inodes_) data.push_back(i.live);
    return ToTree(live_, data);
}

bool SimulatedDisk::Random(std::mt19937& random) const { return (random() & 1) != 0; }

DiskTree SimulatedDisk::AfterPowerCut(std::mt19937& random) const {
    std::lock_guard lock(mutex_);
    Names names = base_;
    for (const Record& r : log_) {
        if (!r.durable && !Random(random)) continue;
        for (const Change& c : r.changes) {
            if (c.entry)
                names[c.key] = *c.entry;
            else
                names.erase(c.key);
        }
    }
    // Data not flushed may have reached the disk whole, in part or not at
    // all; a file cut short may lose its old data too.
    std::vector<std::string> data;
    for (const Inode& i : inodes_) {
        if (i.live == i.durable) {
            data.push_back(i.durable);
            continue;
        }
        switch (random() % 4) {
            case 0:
                data.push_back(i.durable);
                break;
            case 1:
                data.push_back(i.live);
                break;
            case 2:
                data.push_back(i.live.substr(0, random() % (i.live.size() + 1)));
                break;
            default:
                data.push_back(i.durable.substr(0, random() % (i.durable.size() + 1)));
                break;
        }
    }
    return ToTree(names, data);
}

}  // namespace dsu::testing
