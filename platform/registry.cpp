#include "platform/registry.h"

#include "platform/text.h"

namespace dsu::platform {

std::u16string RegistryValueText(std::uint32_t type, std::span<const unsigned char> data) {
    if (type == kRegSz) {
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
            const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
            if (c == u'\0') {
                std::u16string text(i / 2, u'\0');
                for (std::size_t k = 0; k < i / 2; ++k)
                    text[k] = static_cast<char16_t>(data[2 * k] | (data[2 * k + 1] << 8));
                return text;
            }
        }
        return {};  // stored without its NUL
    }
    if (type == kRegBinary) {
        unsigned value = 0;
        if (data.size() >= 1) value = data[0];
        if (data.size() >= 2) value |= static_cast<unsigned>(data[1]) << 8;
        return DecimalText(static_cast<std::int16_t>(value));
    }
    return {};
}

}  // namespace dsu::platform
