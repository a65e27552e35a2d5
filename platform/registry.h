// Install location lookup: reads one registry value as text.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace dsu::platform {

enum class RegistryRoot { LocalMachine };

// Value types, numbered as the registry numbers them.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegLink = 6;
inline constexpr std::uint32_t kRegMultiSz = 7;

// The text of a value from its type and its stored bytes (text values in
// UTF-16LE): REG_SZ gives the text up to its first NUL (none: the empty
// text), REG_BINARY its first two bytes as a signed little-endian 16-bit
// number in decimal, every other type the empty text.
std::u16string RegistryValueText(std::uint32_t type, std::span<const unsigned char> data);

class Registry {
  public:
    virtual ~Registry() = default;
    // The value `valueName` of `subkey` as text; the empty text for every
    // failure. The 32-bit view of the registry is read first, as the 32-bit
    // installers of the programs wrote it; the 64-bit view only when the key
    // or the value is absent there, so a value that exists in the 32-bit view
    // decides even when it is empty or of a type that gives no text.
    virtual std::u16string QueryRegistryPath(RegistryRoot root, const std::u16string& subkey,
                                             const std::u16string& valueName) = 0;
};

// The registry of the system the program runs on; on Linux, that of the Wine
// prefix named by WINEPREFIX (or ~/.wine).
std::unique_ptr<Registry> MakeSystemRegistry();
// HKEY_LOCAL_MACHINE of the Wine prefix folder `prefix` (a host path), read
// from the system.reg that Wine saves there.
std::unique_ptr<Registry> MakeWineRegistry(std::string prefix);

}  // namespace dsu::platform
