// Path text helpers. A path is 16-bit text whose only separator is "\".
#pragma once

#include <string>
#include <string_view>

namespace dsu::platform {

// The part behind the last "\"; empty when there is none. Throws
// OverflowError for texts the 16-bit scan cannot step through (see paths.cpp).
std::u16string ChopPathOff(std::u16string_view filename);
// The part ahead of the last "\", ending in "\"; empty when there is none.
// Throws OverflowError as ChopPathOff does.
std::u16string ChopFileOff(std::u16string_view filename);
// `path` ending in "\" (the empty text becomes "\").
std::u16string ResolvePath(std::u16string_view path);
// `path` without one trailing "\".
std::u16string UnResolvePath(std::u16string_view path);

}  // namespace dsu::platform
