// The registry through advapi32.
#include <optional>
#include <vector>

#include "platform/registry.h"
#include "platform/win32.h"

namespace dsu::platform {

namespace {

// The value's text, from a buffer of exactly the value's own size; nothing
// when the value does not exist.
std::optional<std::u16string> ReadValue(HKEY key, const std::u16string& valueName) {
    DWORD type = 0;
    DWORD size = 0;
    const LSTATUS status = RegQueryValueExW(key, Wide(valueName), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) return std::u16string();
    std::vector<unsigned char> data(size);
    // A value that changed size in between fails here and reads as empty.
    if (RegQueryValueExW(key, Wide(valueName), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return std::u16string();
    data.resize(size);
    return RegistryValueText(type, data);
}

// The value's text in one view; nothing when the key or the value is absent
// there. A value that exists but is empty, unreadable or of another type
// gives the empty text.
std::optional<std::u16string> ReadView(const std::u16string& subkey,
                                       const std::u16string& valueName, REGSAM view) {
    HKEY key = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(subkey), 0, KEY_QUERY_VALUE | view, &key);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) return std::u16string();
    std::optional<std::u16string> text = ReadValue(key, valueName);
    RegCloseKey(key);
    return text;
}

class Win32Registry : public Registry {
  public:
    std::u16string QueryRegistryPath(RegistryRoot, const std::u16string& subkey,
                                     const std::u16string& valueName) override {
        if (auto text = ReadView(subkey, valueName, KEY_WOW64_32KEY)) return std::move(*text);
        return ReadView(subkey, valueName, KEY_WOW64_64KEY).value_or(std::u16string());
    }
};

}  // namespace

std::unique_ptr<Registry> MakeSystemRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace dsu::platform
