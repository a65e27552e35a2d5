// The kuid scan: fills the folder-kuid table from the config.txt files of the
// content folders directly below one root.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kuids/folder_kuids.h"
#include "platform/files.h"
#include "platform/work_pool.h"

namespace dsu::kuids {

struct KuidLine {
    bool isKuidLine = false;               // the line that ends the search
    std::optional<std::string_view> kuid;  // its kuid text, from the first "<"
};

// Reads one config.txt line: trimmed of spaces, it is the kuid line when its
// first four characters, lower-cased, are "kuid"; its kuid text runs from the
// first "<" to the end of the trimmed line.
KuidLine ParseKuidLine(std::string_view line);

// Registers the kuid of every immediate subfolder of `root` that holds a
// config.txt with a kuid line, under the subfolder's own name. Best-effort:
// every step that fails is skipped, and nothing is reported. `onFolder` runs
// after each folder and while waiting, on the calling thread, so that a window
// can keep painting during long scans. The config.txt files are read on the
// pool's threads; the kuids are registered in listing order all the same.
void ScanFolderKuids(platform::FileSystem& files, colFolderKuids& table, const std::u16string& root,
                     platform::WorkPool& pool, const std::function<void()>& onFolder = {});

}  // namespace dsu::kuids
