// The one place that includes <windows.h>. Its CopyFile, DeleteFile and
// ReplaceFile macros would rename our own file operations, so they go; Win32
// code calls the explicit wide functions (CopyFileW, DeleteFileW, ...).
#pragma once

#include <windows.h>

#undef CopyFile
#undef DeleteFile
#undef ReplaceFile

#include <string>
#include <string_view>

namespace dsu::platform {

inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
    return {reinterpret_cast<const char16_t*>(text), length};
}
// The system's text for an error code, without its line end.
std::u16string SystemErrorText(unsigned long code);

}  // namespace dsu::platform
