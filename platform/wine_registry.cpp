#include "platform/wine_registry.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "platform/registry.h"

namespace dsu::platform {

namespace {

// Windows' own limit on the depth of the key tree; it also bounds the
// recursion that frees a parsed tree.
constexpr std::size_t kMaxDepth = 512;
// Links followed in one lookup, as wineserver bounds them, so that loops end.
constexpr int kMaxLinks = 16;

constexpr std::u16string_view kWow6432Node = u"Wow6432Node";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool IsOctal(char c) { return c >= '0' && c <= '7'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view SkipSpace(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimEnd(std::string_view s) {
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

bool Consume(std::string_view& s, std::string_view prefix) {
    if (!s.starts_with(prefix)) return false;
    s.remove_prefix(prefix.size());
    return true;
}

// One quoted text up to the unescaped `end`, as wineserver escapes it: C
// escapes, \xHHHH (up to four digits) for one UTF-16 unit, octal \NNN, a
// backslash before any other character for that character; other bytes are
// UTF-8. On success `s` is left behind the closing `end`.
std::optional<std::u16string> ParseEscaped(std::string_view& s, char end) {
    std::u16string text;
    std::size_t i = 0;
    while (i < s.size() && s[i] != end) {
        const char c = s[i];
        if (c == '\\') {
            if (++i == s.size()) return std::nullopt;
            const char e = s[i];
            char16_t unit = 0;
            switch (e) {
                case 'a':
                    unit = u'\a';
                    break;
                case 'b':
                    unit = u'\b';
                    break;
                case 'e':
                    unit = 0x1B;
                    break;
                case 'f':
                    unit = u'\f';
                    break;
                case 'n':
                    unit = u'\n';
                    break;
                case 'r':
                    unit = u'\r';
                    break;
                case 't':
                    unit = u'\t';
                    break;
                case 'v':
                    unit = u'\v';
                    break;
                case 'x': {
                    ++i;
                    int digits = 0;
                    for (int d; digits < 4 && i < s.size() && (d = HexDigit(s[i])) >= 0;
                         ++i, ++digits)
                        unit = static_cast<char16_t>(unit * 16 + d);
                    text += digits ? unit : u'x';
                    continue;
                }
                default:
                    if (IsOctal(e)) {
                        for (int digits = 0; digits < 3 && i < s.size() && IsOctal(s[i]);
                             ++i, ++digits)
                            unit = static_cast<char16_t>(unit * 8 + (s[i] - '0'));
                        text += unit;
                        continue;
                    }
                    // Any other escaped character stands for itself; it may
                    // be a non-ASCII byte, so it goes through the plain path.
                    break;
            }
            if (unit) {
                text += unit;
                ++i;
                continue;
            }
        }
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            text += static_cast<char16_t>(s[i++]);
            continue;
        }
        std::size_t run = i;
        while (run < s.size() && static_cast<unsigned char>(s[run]) >= 0x80) ++run;
        text += FromUtf8(s.substr(i, run - i));
        i = run;
    }
    if (i == s.size()) return std::nullopt;  // no closing delimiter
    s.remove_prefix(i + 1);
    return text;
}

void AppendUtf16(std::vector<unsigned char>& bytes, std::u16string_view text) {
    for (char16_t c : text) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
}

// The key names of a path, with empty ones passed over as wineserver does.
template <class Visit>
bool ForEachName(std::u16string_view path, Visit&& visit) {
    while (!path.empty()) {
        const auto slash = path.find(u'\\');
        const auto name = path.substr(0, slash);
        if (!name.empty() && !visit(name)) return false;
        if (slash == std::u16string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return true;
}

// "xx,xx,..." of one line into `bytes`; false on anything else. `more` tells
// whether the line ends in "\", continuing the list on the next line.
bool ParseHexLine(std::string_view s, std::vector<unsigned char>& bytes, bool& more) {
    s = TrimEnd(SkipSpace(s));
    more = false;
    while (!s.empty()) {
        if (s == "\\") {
            more = true;
            return true;
        }
        int value = 0;
        int digits = 0;
        for (int d; !s.empty() && (d = HexDigit(s.front())) >= 0; ++digits) {
            value = value * 16 + d;
            if (value > 0xFF) return false;
            s.remove_prefix(1);
        }
        if (digits == 0) return false;
        bytes.push_back(static_cast<unsigned char>(value));
        s = SkipSpace(s);
        if (!s.empty() && s.front() == ',') s = SkipSpace(s.substr(1));
    }
    return true;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

class Lines {
  public:
    explicit Lines(std::string_view text) : rest_(text) {}
    bool Next(std::string_view& line) {
        if (done_) return false;
        const auto end = rest_.find('\n');
        line = rest_.substr(0, end);
        if (end == std::string_view::npos)
            done_ = true;
        else
            rest_.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

  private:
    std::string_view rest_;
    bool done_ = false;
};

// The data of a value line behind its "=", reading continuation lines of hex
// data from `lines`. Null when malformed.
std::optional<RegistryValueData> ParseData(std::string_view s, Lines& lines) {
    RegistryValueData value;
    std::uint32_t textType = 0;
    if (s.starts_with('"'))
        textType = kRegSz;
    else if (Consume(s, "str:"))
        textType = kRegSz;
    else if (Consume(s, "str(2):"))
        textType = kRegExpandSz;
    else if (Consume(s, "str(7):"))
        textType = kRegMultiSz;
    if (textType) {
        if (!Consume(s, "\"")) return std::nullopt;
        auto text = ParseEscaped(s, '"');
        if (!text) return std::nullopt;
        value.type = textType;
        AppendUtf16(value.bytes, *text);
        value.bytes.insert(value.bytes.end(), {0, 0});
        return value;
    }
    if (Consume(s, "dword:")) {
        auto number = ParseHexNumber(TrimEnd(s));
        if (!number) return std::nullopt;
        value.type = kRegDword;
        for (int shift = 0; shift < 32; shift += 8)
            value.bytes.push_back(static_cast<unsigned char>(*number >> shift));
        return value;
    }
    if (Consume(s, "hex:")) {
        value.type = kRegBinary;
    } else if (Consume(s, "hex(")) {
        const auto close = s.find(')');
        if (close == std::string_view::npos) return std::nullopt;
        auto type = ParseHexNumber(s.substr(0, close));
        s.remove_prefix(close + 1);
        if (!type || !Consume(s, ":")) return std::nullopt;
        value.type = *type;
    } else {
        return std::nullopt;
    }
    for (bool more = true; more;) {
        if (!ParseHexLine(s, value.bytes, more)) return std::nullopt;
        if (more && !lines.Next(s)) return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<WineRegistryFile> WineRegistryFile::Parse(std::string_view text) {
    Lines lines(text);
    std::string_view line;
    if (!lines.Next(line) || TrimEnd(line) != "WINE REGISTRY Version 2") return std::nullopt;

    WineRegistryFile file;
    Key* key = nullptr;
    bool seenKey = false;
    while (lines.Next(line)) {
        line = SkipSpace(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            line.remove_prefix(1);
            key = nullptr;
            seenKey = true;
            auto path = ParseEscaped(line, ']');
            if (!path) continue;  // the key's values go with it
            std::size_t depth = 0;
            ForEachName(*path, [&](std::u16string_view) { return ++depth <= kMaxDepth; });
            if (depth > kMaxDepth) continue;
            key = file.root_.get();
            ForEachName(*path, [&](std::u16string_view name) {
                auto [it, added] = key->subkeys.try_emplace(std::u16string(name));
                if (added) it->second = std::make_unique<Key>();
                key = it->second.get();
                return true;
            });
        } else if (line.front() == '#') {
            if (key) {
                if (line.starts_with("#link")) key->link = true;
            } else if (!seenKey) {
                if (TrimEnd(line) == "#arch=win64") file.win64_ = true;
                if (TrimEnd(line) == "#arch=win32") file.win64_ = false;
            }
        } else if (line.front() == '"' || line.front() == '@') {
            std::u16string name;
            if (line.front() == '"') {
                line.remove_prefix(1);
                auto parsed = ParseEscaped(line, '"');
                if (!parsed) continue;
                name = std::move(*parsed);
            } else {
                line.remove_prefix(1);
            }
            line = SkipSpace(line);
            if (!Consume(line, "=")) continue;
            // Parsed even without a key, so that continuation lines of its
            // hex data are not taken for lines of their own.
            auto data = ParseData(SkipSpace(line), lines);
            if (key && data) key->values.insert_or_assign(std::move(name), std::move(*data));
        }
        // Anything else is not registry text; wineserver passes over it too.
    }
    return file;
}

const WineRegistryFile::Key* WineRegistryFile::Find(std::u16string_view path,
                                                    RegistryView view) const {
    int budget = kMaxLinks;
    return Open(path, win64_ && view == RegistryView::Bits32, budget);
}

const RegistryValueData* WineRegistryFile::FindValue(const Key& key, std::u16string_view name) {
    const auto it = key.values.find(name);
    return it == key.values.end() ? nullptr : &it->second;
}

const WineRegistryFile::Key* WineRegistryFile::Open(std::u16string_view path, bool wow32,
                                                    int& budget) const {
    const Key* key = root_.get();
    const bool found = ForEachName(path, [&](std::u16string_view name) {
        if (wow32 && !EqualFolded(name, kWow6432Node)) {
            // The 32-bit programs' own branch, where a key has one.
            const auto wow = key->subkeys.find(kWow6432Node);
            if (wow != key->subkeys.end()) key = wow->second.get();
        }
        const auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) return false;
        key = FollowLink(it->second.get(), budget);
        return key != nullptr;
    });
    return found ? key : nullptr;
}

const WineRegistryFile::Key* WineRegistryFile::FollowLink(const Key* key, int& budget) const {
    if (!key->link) return key;
    if (budget-- <= 0) return nullptr;
    const RegistryValueData* value = FindValue(*key, u"SymbolicLinkValue");
    if (!value) return nullptr;
    std::u16string target;
    for (std::size_t i = 0; i + 1 < value->bytes.size(); i += 2) {
        const auto c = static_cast<char16_t>(value->bytes[i] | (value->bytes[i + 1] << 8));
        if (c == u'\0') break;
        target += c;
    }
    // Targets name the whole registry; this file holds \Registry\Machine.
    constexpr std::u16string_view kRoot = u"\\Registry\\Machine";
    if (target.size() < kRoot.size() || !EqualFolded(target.substr(0, kRoot.size()), kRoot))
        return nullptr;
    std::u16string_view rest = std::u16string_view(target).substr(kRoot.size());
    if (!rest.empty() && rest.front() != u'\\') return nullptr;
    return Open(rest, false, budget);
}

namespace {

// The value's text in one view; nothing when the key or the value is absent.
std::optional<std::u16string> ValueText(const WineRegistryFile& file, const std::u16string& subkey,
                                        const std::u16string& valueName, RegistryView view) {
    const auto* key = file.Find(subkey, view);
    if (!key) return std::nullopt;
    const auto* value = WineRegistryFile::FindValue(*key, valueName);
    if (!value) return std::nullopt;
    return RegistryValueText(value->type, value->bytes);
}

class WineRegistry : public Registry {
  public:
    explicit WineRegistry(std::string prefix) : path_(std::move(prefix) + "/system.reg") {}

    std::u16string QueryRegistryPath(RegistryRoot, const std::u16string& subkey,
                                     const std::u16string& valueName) override {
        const WineRegistryFile* file = Load();
        if (!file) return {};
        if (auto text = ValueText(*file, subkey, valueName, RegistryView::Bits32))
            return std::move(*text);
        // A 32-bit prefix has one view only.
        if (!file->Is64Bit()) return {};
        return ValueText(*file, subkey, valueName, RegistryView::Bits64).value_or(std::u16string());
    }

  private:
    // The file as Wine last saved it. Wine saves by replacing the file, so
    // an unchanged time and size mean an unchanged registry.
    const WineRegistryFile* Load() {
        std::error_code error;
        const auto time = std::filesystem::last_write_time(path_, error);
        if (error) return nullptr;
        const auto size = std::filesystem::file_size(path_, error);
        if (error) return nullptr;
        if (!file_ || time != time_ || size != size_) {
            file_.reset();
            std::ifstream in(path_, std::ios::binary);
            if (!in) return nullptr;
            const std::string text{std::istreambuf_iterator<char>(in), {}};
            if (in.bad()) return nullptr;
            file_ = WineRegistryFile::Parse(text);
            time_ = time;
            size_ = size;
        }
        return file_ ? &*file_ : nullptr;
    }

    std::filesystem::path path_;
    std::optional<WineRegistryFile> file_;
    std::filesystem::file_time_type time_;
    std::uintmax_t size_ = 0;
};

}  // namespace

std::unique_ptr<Registry> MakeWineRegistry(std::string prefix) {
    return std::make_unique<WineRegistry>(std::move(prefix));
}

}  // namespace dsu::platform
