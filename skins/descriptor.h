// The skin descriptor skin.dat: its version test and its rewrite from
// version "1.3" to version "1.5".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kuids/folder_kuids.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/work_pool.h"

namespace dsu::skins {

inline constexpr std::string_view kCandidateVersion = "1.3";
inline constexpr std::string_view kUpgradedVersion = "1.5";

// The version test: a reader on `descriptor`, just past its first line, when
// the file exists and that line is exactly "1.3"; null otherwise. Reads no
// more of the line than it takes to tell. A file that exists but cannot be
// opened, or is empty, throws FileError.
std::unique_ptr<platform::TextReader> OpenCandidate(platform::FileSystem& files,
                                                    const std::u16string& descriptor);

// References to the "gp38" template point at its copy "gp38_hi_dyn".
std::u16string ApplyTemplatePrefixRule(std::u16string_view reference);

enum class UpgradeOutcome {
    NotCandidate,  // no skin.dat, or not at version "1.3": left alone
    Upgraded,
    KuidMissing,  // the user has been told; skin.dat unchanged
    NoReference,  // a version "1.3" skin.dat without a second line; unchanged
};

// One skin's rewrite as far as it can go beside other skins': its new
// descriptor complete and flushed in skin.dat.tmp, its messages held back.
struct PreparedDescriptor {
    UpgradeOutcome outcome = UpgradeOutcome::NotCandidate;
    std::u16string descriptor;  // skin.dat
    std::u16string temporary;   // skin.dat.tmp, waiting when Upgraded
    std::vector<std::pair<std::u16string, platform::MessageKind>> messages;
    platform::FileStamp read;  // of the skin.dat it was made from
    bool atItsTurn = false;    // made with nothing later in flight
};

// Reads skin.dat, makes skin.dat.tmp, translates the reference and writes
// and flushes the rest. Shows nothing: the messages are kept for
// CommitSkinDescriptor, so that they come in the skins' order. A failed file
// operation throws FileError, and skin.dat.tmp is then gone. `atItsTurn`:
// nothing later is in flight, and a skin.dat.tmp already there is replaced;
// ahead of its turn, such a file fails the prepare and is left as it was.
PreparedDescriptor PrepareSkinDescriptor(platform::FileSystem& files,
                                         const kuids::colFolderKuids& table,
                                         const std::u16string& skinFolder, bool atItsTurn);
// Shows the skin's messages, then puts skin.dat.tmp in the place of skin.dat
// (durable only after FlushReplace of skin.dat).
UpgradeOutcome CommitSkinDescriptor(platform::FileSystem& files, platform::MessageSink& messages,
                                    const PreparedDescriptor& prepared);
// Takes away the skin.dat.tmp of a skin that is not to be committed, so that
// it stays exactly as it was. Best-effort.
void DiscardSkinDescriptor(platform::FileSystem& files, const PreparedDescriptor& prepared);

// Rewrites the skin.dat of each of `skinFolders` that is at version "1.3" to
// version "1.5", in their order, up to the first failed file operation, which
// throws FileError: that skin keeps its old skin.dat (or the complete new one
// lies in its skin.dat.tmp), every later one stays as it was. Each new
// descriptor goes through skin.dat.tmp, which is flushed to stable storage
// and then replaces skin.dat atomically; lines 3 and later are copied byte
// for byte. The descriptors are prepared on `pool`, and the replaces made
// before the end are durable when it returns or throws. `wait` runs on the
// calling thread after each skin and while it waits.
void UpgradeSkinDescriptors(platform::FileSystem& files, const kuids::colFolderKuids& table,
                            platform::MessageSink& messages, platform::WorkPool& pool,
                            const std::vector<std::u16string>& skinFolders,
                            const std::function<void()>& wait);

}  // namespace dsu::skins
