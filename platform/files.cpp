#include "platform/files.h"

#include "platform/paths.h"

namespace dsu::platform {

std::vector<std::u16string> ListingFileSystem::ListSubfolders(const std::u16string& folder) {
    std::vector<std::u16string> names = ListNames(folder, true);
    const std::u16string base = ResolvePath(folder);
    for (auto& name : names) name = base + name;
    return names;
}

std::vector<std::u16string> ListingFileSystem::ListFiles(const std::u16string& folder) {
    return ListNames(folder, false);
}

}  // namespace dsu::platform
