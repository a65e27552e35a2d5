#include "kuids/kuid_scan.h"

#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace dsu::kuids {

using platform::BestEffort;

namespace {
// Kuids are a few dozen characters; a longer kuid line is no kuid, and
// keeping at most this much of any trimmed line bounds the memory a hostile
// file takes.
constexpr std::size_t kMaxKuidLine = 64 * 1024;
}  // namespace

KuidLine ParseKuidLine(std::string_view line) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    line = line.substr(first, line.find_last_not_of(' ') + 1 - first);
    if (line.size() < 4) return {};
    for (std::size_t i = 0; i < 4; ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != "kuid"[i]) return {};
    }
    KuidLine result{.isKuidLine = true, .kuid = std::nullopt};
    if (const auto open = line.find('<'); open != std::string_view::npos)
        result.kuid = line.substr(open);
    return result;
}

void ScanFolderKuids(platform::FileSystem& files, colFolderKuids& table, const std::u16string& root,
                     const std::function<void()>& onFolder) {
    std::vector<std::u16string> subfolders;
    if (!BestEffort([&] { subfolders = files.ListSubfolders(root); })) return;
    table.Reserve(table.Count() + subfolders.size());

    std::string line;
    for (const std::u16string& subfolder : subfolders) {
        // Each folder is one best-effort step: a config.txt that cannot be
        // opened or read registers nothing, and the scan goes on.
        BestEffort([&] {
            auto reader = files.TryOpenReader(platform::ResolvePath(subfolder) + u"config.txt");
            if (!reader) return;
            std::optional<std::u16string> kuid;
            while (!reader->AtEnd()) {
                const bool whole = reader->ReadTrimmedLineUpTo(line, kMaxKuidLine);
                const KuidLine parsed = ParseKuidLine(line);
                if (!parsed.isKuidLine) continue;
                if (parsed.kuid && whole) kuid = platform::FromCodePage(*parsed.kuid);
                break;
            }
            if (kuid) table.Add(platform::ChopPathOff(subfolder), std::move(*kuid));
            reader->Close();
        });
        if (onFolder) onFolder();
    }
}

}  // namespace dsu::kuids
