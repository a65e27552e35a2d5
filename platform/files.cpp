#include "platform/files.h"

#include <mutex>
#include <random>

#include "platform/paths.h"

namespace dsu::platform {

std::vector<std::u16string> ListingFileSystem::ListSubfolders(const std::u16string& folder) {
    return ListNames(folder, true, ResolvePath(folder));
}

std::vector<std::u16string> ListingFileSystem::ListFiles(const std::u16string& folder) {
    return ListNames(folder, false, {});
}

std::u16string NewCopySuffix() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    return std::u16string(kCopyMark) + HexDigits(random());
}

std::u16string HexDigits(std::uint64_t value) {
    std::u16string text;
    for (int shift = 60; shift >= 0; shift -= 4) text += u"0123456789abcdef"[(value >> shift) & 15];
    return text;
}

}  // namespace dsu::platform
