#include "platform/paths.h"

#include <cstddef>

#include "platform/failure.h"

namespace dsu::platform {

namespace {

// Both chop helpers scan from the right with a 16-bit position, as the
// descriptor tools they stay compatible with do: a text of more than 32,767
// characters, or of exactly 32,767 without a "\", overflows.
constexpr std::size_t kMaxScan = 32767;

// Position of the last "\", or npos.
std::size_t LastSeparator(std::u16string_view filename) {
    if (filename.size() > kMaxScan) throw OverflowError();
    const std::size_t p = filename.rfind(u'\\');
    if (p == std::u16string_view::npos && filename.size() == kMaxScan) throw OverflowError();
    return p;
}

}  // namespace

std::u16string ChopPathOff(std::u16string_view filename) {
    const std::size_t p = LastSeparator(filename);
    if (p == std::u16string_view::npos) return {};
    return std::u16string(filename.substr(p + 1));
}

std::u16string ChopFileOff(std::u16string_view filename) {
    const std::size_t p = LastSeparator(filename);
    if (p == std::u16string_view::npos) return {};
    std::u16string head(filename.substr(0, p));
    if (head.empty() || head.back() != u'\\') head += u'\\';
    return head;
}

std::u16string ResolvePath(std::u16string_view path) {
    std::u16string out(path);
    if (out.empty() || out.back() != u'\\') out += u'\\';
    return out;
}

std::u16string UnResolvePath(std::u16string_view path) {
    std::u16string out(path);
    if (!out.empty() && out.back() == u'\\') out.pop_back();
    return out;
}

}  // namespace dsu::platform
