#include "platform/win32.h"

#include "platform/text.h"

namespace dsu::platform {

std::u16string SystemErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (n != 0 && buffer != nullptr) text = FromWide(buffer, n);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    if (text.empty()) text = u"Error " + DecimalText(static_cast<long long>(code)) + u".";
    return text;
}

}  // namespace dsu::platform
