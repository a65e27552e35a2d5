#include "kuids/kuid_scan.h"

#include <new>

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
                     platform::WorkPool& pool, const std::function<void()>& onFolder) {
    std::vector<std::u16string> subfolders;
    if (!BestEffort([&] { subfolders = files.ListSubfolders(root); })) return;
    table.Reserve(table.Count() + subfolders.size());

    struct Registration {
        std::u16string key;
        std::u16string kuid;
    };
    auto read = [&](std::size_t i) {
        std::optional<Registration> registration;
        auto reader = files.TryOpenReader(platform::ResolvePath(subfolders[i]) + u"config.txt");
        if (!reader) return registration;
        // One line buffer per thread, reused from folder to folder.
        thread_local std::string line;
        while (!reader->AtEnd()) {
            const bool whole = reader->ReadTrimmedLineUpTo(line, kMaxKuidLine);
            const KuidLine parsed = ParseKuidLine(line);
            if (!parsed.isKuidLine) continue;
            // The key is made here, on the pool, as the registrations
            // themselves follow one another on one thread.
            if (parsed.kuid && whole)
                registration = Registration{platform::ChopPathOff(subfolders[i]),
                                            platform::FromCodePage(*parsed.kuid)};
            break;
        }
        // Registered even when the close fails, as the kuid was read whole.
        BestEffort([&] { reader->Close(); });
        return registration;
    };
    // Each folder is one best-effort step: a config.txt that cannot be opened
    // or read at its turn registers nothing, and the scan goes on. Ahead of
    // its turn, a failure (too many files open, say) is not final.
    auto prepare = [&](std::size_t i, bool atItsTurn) {
        if (!atItsTurn) return read(i);
        try {
            return read(i);
        } catch (const platform::Failure&) {
        } catch (const std::bad_alloc&) {
        }
        return std::optional<Registration>{};
    };
    // The first registration of a name stays, so the order of the listing
    // decides, not the order in which the reads finish.
    auto add = [&](std::size_t, std::optional<Registration>& registration) {
        if (registration) table.Add(std::move(registration->key), std::move(registration->kuid));
        if (onFolder) onFolder();
        return true;
    };
    platform::InOrder(
        pool, subfolders.size(), platform::kSmallResultsAhead, prepare, add,
        [](std::optional<Registration>&) {}, onFolder);
}

}  // namespace dsu::kuids
