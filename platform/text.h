// Text helpers shared by every layer: the 16-bit text that paths and kuids are
// held in, its letter-case folding, and conversions to and from 8-bit text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dsu::platform {

// `text` with every code unit mapped by its simple upper-case mapping: the
// form in which names compare without regard to letter case. It is the same
// table on every platform, so that name comparisons agree everywhere.
std::u16string FoldCase(std::u16string_view text);
bool EqualFolded(std::u16string_view a, std::u16string_view b);
// <0, 0, >0 as `a` sorts before, with or after `b`, ignoring letter case.
int CompareFolded(std::u16string_view a, std::u16string_view b);
// The order of every listing: by folded name, ties broken by the exact name.
bool ListingOrder(std::u16string_view a, std::u16string_view b);
// Sorts `names` into ListingOrder, folding each name once. The first `skip`
// code units of every name must be one prefix that they share; only the rest
// is folded.
void SortListing(std::vector<std::u16string>& names, std::size_t skip = 0);

struct FoldedHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view text) const;
};
struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const {
        return EqualFolded(a, b);
    }
};

// 8-bit text in the system code page (Windows-1252 on Linux, as Wine uses in
// Western locales). Every byte survives a round trip through 16-bit text.
std::u16string FromCodePage(std::string_view bytes);
std::string ToCodePage(std::u16string_view text);

// UTF-8 for host file names and terminals. Bytes that are not UTF-8 come back
// as U+DC80..U+DCFF and are written back as the same bytes, so that no host
// name is lost on its way through 16-bit text.
std::string ToUtf8(std::u16string_view text);
void AppendUtf8(std::string& out, std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);
void AppendFromUtf8(std::u16string& out, std::string_view bytes);

// ASCII only: for the fixed texts of the program.
std::u16string FromAscii(std::string_view ascii);
std::u16string DecimalText(long long value);

}  // namespace dsu::platform
