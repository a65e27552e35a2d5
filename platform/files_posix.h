// File services on Linux for Windows-form paths, as Wine resolves them.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"

namespace dsu::platform {

// The Wine prefix named by WINEPREFIX, or ~/.wine.
std::string DefaultWinePrefix();

// Maps a Windows-form path onto the host: "C:\..." through the prefix's
// dosdevices links, any other text as a host path with "\" as separator.
std::string HostPath(const std::string& prefix, std::u16string_view path);

// `prefix` is the Wine prefix whose drives map drive-letter paths.
std::unique_ptr<FileSystem> MakePosixFileSystem(std::string prefix);

}  // namespace dsu::platform
