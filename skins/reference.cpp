#include "skins/reference.h"

namespace dsu::skins {

namespace {

// The kuid stored under `key`; empty when there is none. An empty kuid counts
// as missing too.
std::u16string LookUp(const kuids::colFolderKuids& table, std::u16string_view key) {
    const kuids::FolderKuid record = table.Find(key);
    return record ? record->Kuid : std::u16string();
}

std::u16string Missing(platform::MessageSink& messages, std::u16string_view key,
                       std::u16string_view skinFolderName) {
    messages.ShowMessage(u"Could not find a kuid for " + std::u16string(key) + u"\r\n" +
                             std::u16string(skinFolderName) + u" not upgraded.",
                         platform::MessageKind::Error);
    return {};
}

}  // namespace

std::u16string TranslateSkinReference(const kuids::colFolderKuids& table,
                                      platform::MessageSink& messages,
                                      std::u16string_view referenceLine,
                                      std::u16string_view skinFolderName) {
    // Only the first backslash splits; a line without one has an empty folder key.
    const std::size_t split = referenceLine.find(u'\\');
    const std::u16string_view folderKey =
        split == std::u16string_view::npos ? std::u16string_view() : referenceLine.substr(0, split);

    const std::u16string folderKuid = LookUp(table, folderKey);
    if (folderKuid.empty()) return Missing(messages, folderKey, skinFolderName);

    std::u16string combinedKey(folderKey);
    combinedKey += u'_';
    combinedKey += referenceLine.substr(split + 1);
    const std::u16string combinedKuid = LookUp(table, combinedKey);
    if (combinedKuid.empty()) return Missing(messages, combinedKey, skinFolderName);

    return combinedKuid + u"\\" + folderKuid;
}

}  // namespace dsu::skins
