// Holds a file as a scanner, an indexer or a sync client does for a moment.
//
//   hold_file PATH MILLISECONDS EVENT [--share-read]
//
// Opens PATH with no sharing (with --share-read, others may still read it but
// neither replace nor delete it), sets the named event EVENT, and lets the
// file go after MILLISECONDS. Exit code 0 when it held the file, 1 when it
// could not open it, 2 on a wrong call.
#include <cwchar>
#include <string>

#include "platform/win32.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const std::wstring path = argv[1];
    const DWORD holdMs = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    DWORD share = 0;
    if (argc > 4) {
        if (std::wstring(argv[4]) != L"--share-read" || argc > 5) return 2;
        share = FILE_SHARE_READ;
    }
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (event == nullptr) return 2;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    SetEvent(event);
    Sleep(holdMs);
    CloseHandle(file);
    return 0;
}
