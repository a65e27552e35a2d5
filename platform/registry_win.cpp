// The registry through advapi32.
#include <vector>

#include "platform/registry.h"
#include "platform/win32.h"

namespace dsu::platform {

// The value's text, from a buffer of exactly the value's own size.
std::u16string ReadRegistryValue(HKEY key, const std::u16string& valueName) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, Wide(valueName), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::vector<unsigned char> data(size);
    // A value that changed size in between fails here and reads as empty.
    if (RegQueryValueExW(key, Wide(valueName), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return {};
    data.resize(size);
    return RegistryValueText(type, data);
}

namespace {

std::u16string ReadView(const std::u16string& subkey, const std::u16string& valueName,
                        REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(subkey), 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS)
        return {};
    std::u16string text = ReadRegistryValue(key, valueName);
    RegCloseKey(key);
    return text;
}

class Win32Registry : public Registry {
  public:
    std::u16string QueryRegistryPath(RegistryRoot, const std::u16string& subkey,
                                     const std::u16string& valueName) override {
        std::u16string text = ReadView(subkey, valueName, KEY_WOW64_32KEY);
        if (text.empty()) text = ReadView(subkey, valueName, KEY_WOW64_64KEY);
        return text;
    }
};

}  // namespace

std::unique_ptr<Registry> MakeSystemRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace dsu::platform
