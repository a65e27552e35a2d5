#include "platform/files.h"

#include "platform/paths.h"

namespace dsu::platform {

std::vector<std::u16string> ListingFileSystem::ListSubfolders(const std::u16string& folder) {
    return ListNames(folder, true, ResolvePath(folder));
}

std::vector<std::u16string> ListingFileSystem::ListFiles(const std::u16string& folder) {
    return ListNames(folder, false, {});
}

}  // namespace dsu::platform
