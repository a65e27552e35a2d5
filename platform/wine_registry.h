// Wine's registry files (system.reg, user.reg) as wineserver saves them: the
// registry of a Wine prefix, read on Linux without running Wine.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/text.h"

namespace dsu::platform {

struct RegistryValueData {
    std::uint32_t type = 0;
    // Text values in UTF-16LE with their terminating NUL, as the registry
    // stores them.
    std::vector<unsigned char> bytes;
};

enum class RegistryView { Bits32, Bits64 };

class WineRegistryFile {
  public:
    struct Key {
        bool link = false;  // "#link": the key stands for its SymbolicLinkValue
        std::unordered_map<std::u16string, std::unique_ptr<Key>, FoldedHash, FoldedEqual> subkeys;
        std::unordered_map<std::u16string, RegistryValueData, FoldedHash, FoldedEqual> values;
    };

    // Null when the text does not start with Wine's header line. Lines that
    // do not parse are passed over, as wineserver passes over them.
    static std::optional<WineRegistryFile> Parse(std::string_view text);

    // "#arch=win64": the prefix keeps a separate 32-bit view.
    bool Is64Bit() const { return win64_; }

    // The key at `path` ("Software\X", relative to the file's root), with
    // registry links followed at every step. In a 64-bit prefix the 32-bit
    // view steps into "Wow6432Node" wherever a key has one. Null when absent.
    const Key* Find(std::u16string_view path, RegistryView view) const;
    // The value `name` of `key` (the empty name is the default value "@").
    static const RegistryValueData* FindValue(const Key& key, std::u16string_view name);

  private:
    const Key* Open(std::u16string_view path, bool wow32, int& budget) const;
    const Key* FollowLink(const Key* key, int& budget) const;

    std::unique_ptr<Key> root_ = std::make_unique<Key>();
    bool win64_ = false;
};

}  // namespace dsu::platform
