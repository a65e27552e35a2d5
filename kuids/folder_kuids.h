// The folder-kuid table: content folder names to kuid texts.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/text.h"

namespace dsu::kuids {

// One record. Records are shared: the table and every holder of a record
// refer to the same object.
class clsFolderKuid {
  public:
    std::u16string Key;
    std::u16string Kuid;
};

using FolderKuid = std::shared_ptr<clsFolderKuid>;

// An ordered table of records, keyed by folder name without regard to letter
// case. The first registration of a name stays.
class colFolderKuids {
  public:
    // Stores a new record at the end under `key`, unless a record is stored
    // under that key in any letter case: then the table stays as it is and the
    // record returned is held by the caller alone. Never fails.
    FolderKuid Add(std::u16string key, std::u16string kuid);
    // The stored record at `position`, counting from 1. Throws NotFoundError.
    FolderKuid Item(std::size_t position) const;
    // The stored record under `key`, even when `key` is made of digits.
    // Throws NotFoundError.
    FolderKuid Item(std::u16string_view key) const;
    // As Item(key), but null when there is none.
    FolderKuid Find(std::u16string_view key) const;
    std::size_t Count() const { return order_.size(); }
    // Makes room for `count` records in all, so that adding them does not
    // rebuild the index again and again.
    void Reserve(std::size_t count);
    // Takes a record out; the others keep their order. Throws NotFoundError.
    void Remove(std::size_t position);
    void Remove(std::u16string_view key);

    // NewEnum: every stored record once, in the order of storing.
    auto begin() const { return order_.begin(); }
    auto end() const { return order_.end(); }

  private:
    std::vector<FolderKuid> order_;
    std::unordered_map<std::u16string, FolderKuid, platform::FoldedHash, platform::FoldedEqual>
        byKey_;
};

}  // namespace dsu::kuids
