#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace dsu::platform {

namespace {

struct UpcaseRun {
    std::uint16_t first, last, stride;
    std::int32_t delta;
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "platform/upcase_table.inc"
};

struct UpcaseTable {
    std::array<char16_t, 0x10000> map{};
    UpcaseTable() {
        for (std::size_t c = 0; c < map.size(); ++c) map[c] = static_cast<char16_t>(c);
        for (const UpcaseRun& run : kUpcaseRuns)
            for (std::uint32_t c = run.first; c <= run.last; c += run.stride)
                map[c] = static_cast<char16_t>(static_cast<std::int32_t>(c) + run.delta);
    }
};

const UpcaseTable& Upcase() {
    static const UpcaseTable table;
    return table;
}

}  // namespace

std::u16string FoldCase(std::u16string_view text) {
    const auto& map = Upcase().map;
    std::u16string folded(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) folded[i] = map[text[i]];
    return folded;
}

bool EqualFolded(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    const auto& map = Upcase().map;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && map[a[i]] != map[b[i]]) return false;
    return true;
}

int CompareFolded(std::u16string_view a, std::u16string_view b) {
    const auto& map = Upcase().map;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = map[a[i]], y = map[b[i]];
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool ListingOrder(std::u16string_view a, std::u16string_view b) {
    const int folded = CompareFolded(a, b);
    return folded != 0 ? folded < 0 : a < b;
}

void SortListing(std::vector<std::u16string>& names, std::size_t skip) {
    // Each name is folded once, into one block, as big-endian bytes: the
    // byte order of such keys is the order of their code units, so that a
    // comparison is one memcmp over memory close together. Folding inside
    // every comparison, and swapping the names themselves, was most of a
    // large folder's listing time.
    const auto& map = Upcase().map;
    std::size_t total = 0;
    for (const std::u16string& name : names) total += name.size() - skip;
    std::string keys(total * 2, '\0');
    struct Entry {
        std::string_view key;
        std::size_t index;
    };
    std::vector<Entry> order;
    order.reserve(names.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t start = at;
        for (const char16_t c : std::u16string_view(names[i]).substr(skip)) {
            const char16_t folded = map[c];
            keys[at++] = static_cast<char>(folded >> 8);
            keys[at++] = static_cast<char>(folded & 0xFF);
        }
        order.push_back({std::string_view(keys).substr(start, at - start), i});
    }
    std::sort(order.begin(), order.end(), [&](const Entry& a, const Entry& b) {
        const int byFolded = a.key.compare(b.key);
        return byFolded != 0 ? byFolded < 0 : names[a.index] < names[b.index];
    });
    std::vector<std::u16string> sorted;
    sorted.reserve(names.size());
    for (const Entry& entry : order) sorted.push_back(std::move(names[entry.index]));
    names = std::move(sorted);
}

std::size_t FoldedHash::operator()(std::u16string_view text) const {
    // FNV-1a over the folded code units, a unit at a time.
    const auto& map = Upcase().map;
    std::uint64_t h = 1469598103934665603ull;
    for (char16_t c : text) h = (h ^ map[c]) * 1099511628211ull;
    return static_cast<std::size_t>(h);
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    AppendUtf8(out, text);
    return out;
}

void AppendUtf8(std::string& out, std::u16string_view text) {
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC00);  // a byte that was not UTF-8
            continue;
        }
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

std::u16string FromUtf8(std::string_view bytes) {
    std::u16string out;
    AppendFromUtf8(out, bytes);
    return out;
}

void AppendFromUtf8(std::u16string& out, std::string_view bytes) {
    out.reserve(out.size() + bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        std::uint32_t c = 0;
        std::size_t len = 0;
        std::uint32_t min = 0;
        if (b0 < 0x80) {
            c = b0, len = 1;
        } else if ((b0 & 0xE0) == 0xC0) {
            c = b0 & 0x1F, len = 2, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            c = b0 & 0x0F, len = 3, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            c = b0 & 0x07, len = 4, min = 0x10000;
        }
        bool valid = len != 0 && i + len <= bytes.size();
        for (std::size_t k = 1; valid && k < len; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            if ((b & 0xC0) != 0x80) valid = false;
            c = (c << 6) | (b & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (valid && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) valid = false;
        if (!valid) {
            out += static_cast<char16_t>(0xDC00 + b0);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
}

std::u16string FromAscii(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::u16string DecimalText(long long value) { return FromAscii(std::to_string(value)); }

}  // namespace dsu::platform
