// File services on Linux for Windows-form paths, as Wine resolves them.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"

namespace dsu::platform {

// The Wine prefix named by WINEPREFIX, or ~/.wine.
std::string DefaultWinePrefix();

// Maps a Windows-form path onto the host through the prefix's dosdevices
// links, as Wine does. ".." stops at the drive's root, as on Windows. A path
// without a drive letter, or without a root after it, is taken against
// C:\, which stands for the Windows current folder the program does not
// have: no path leads outside the prefix's drives.
std::string HostPath(const std::string& prefix, std::u16string_view path);

// The file services of a Wine prefix: `prefix` maps every path (HostPath).
// MakeSystemFileSystem gives those of WINEPREFIX (or ~/.wine) in which text
// without a drive letter is a host path with "\" as separator instead, for
// the host's own folders.
std::unique_ptr<FileSystem> MakePosixFileSystem(std::string prefix);

}  // namespace dsu::platform
