#include "kuids/folder_kuids.h"

#include <algorithm>

#include "platform/failure.h"

namespace dsu::kuids {

using platform::NotFoundError;

FolderKuid colFolderKuids::Add(std::u16string key, std::u16string kuid) {
    auto record = std::make_shared<clsFolderKuid>();
    record->Key = std::move(key);
    record->Kuid = std::move(kuid);
    // try_emplace leaves an existing record of the same key in place.
    if (byKey_.try_emplace(record->Key, record).second) order_.push_back(record);
    return record;
}

void colFolderKuids::Reserve(std::size_t count) {
    order_.reserve(count);
    byKey_.reserve(count);
}

FolderKuid colFolderKuids::Item(std::size_t position) const {
    if (position < 1 || position > order_.size()) throw NotFoundError();
    return order_[position - 1];
}

FolderKuid colFolderKuids::Item(std::u16string_view key) const {
    FolderKuid record = Find(key);
    if (!record) throw NotFoundError();
    return record;
}

FolderKuid colFolderKuids::Find(std::u16string_view key) const {
    const auto it = byKey_.find(key);
    return it == byKey_.end() ? nullptr : it->second;
}

void colFolderKuids::Remove(std::size_t position) {
    const FolderKuid record = Item(position);
    byKey_.erase(record->Key);
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(position - 1));
}

void colFolderKuids::Remove(std::u16string_view key) {
    const FolderKuid record = Item(key);
    byKey_.erase(record->Key);
    order_.erase(std::find(order_.begin(), order_.end(), record));
}

}  // namespace dsu::kuids
