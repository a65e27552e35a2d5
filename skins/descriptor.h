// The skin descriptor skin.dat: its version test and its rewrite from
// version "1.3" to version "1.5".
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kuids/folder_kuids.h"
#include "platform/files.h"
#include "platform/messages.h"

namespace dsu::skins {

inline constexpr std::string_view kCandidateVersion = "1.3";
inline constexpr std::string_view kUpgradedVersion = "1.5";

// The version test: a reader on `descriptor`, just past its first line, when
// the file exists and that line is exactly "1.3"; null otherwise. A file that
// exists but cannot be opened, or is empty, throws FileError.
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

// Rewrites the skin.dat of `skinFolder` to version "1.5" through skin.dat.tmp,
// which is flushed to stable storage and then replaces skin.dat atomically.
// Lines 3 and later are copied byte for byte. A failed file operation throws
// FileError; skin.dat is then unchanged, or complete at version "1.5".
// The three steps below, one after the other.
UpgradeOutcome UpgradeSkinDescriptor(platform::FileSystem& files,
                                     const kuids::colFolderKuids& table,
                                     platform::MessageSink& messages,
                                     const std::u16string& skinFolder);

// One skin's rewrite as far as it can go beside other skins': its new
// descriptor complete and flushed in skin.dat.tmp, its messages held back.
struct PreparedDescriptor {
    UpgradeOutcome outcome = UpgradeOutcome::NotCandidate;
    std::u16string descriptor;  // skin.dat
    std::u16string temporary;   // skin.dat.tmp, waiting when Upgraded
    std::vector<std::pair<std::u16string, platform::MessageKind>> messages;
    // The Failure that ends the run at this skin; skin.dat.tmp is gone then.
    std::exception_ptr failure;
};

// Reads skin.dat, translates the reference and writes and flushes
// skin.dat.tmp. Shows nothing and throws no Failure: both are kept for
// CommitSkinDescriptor, so that they come in the skins' order.
PreparedDescriptor PrepareSkinDescriptor(platform::FileSystem& files,
                                         const kuids::colFolderKuids& table,
                                         const std::u16string& skinFolder);
// Shows the skin's messages, then throws its failure or puts skin.dat.tmp in
// the place of skin.dat (durable only after FlushReplace of skin.dat).
UpgradeOutcome CommitSkinDescriptor(platform::FileSystem& files, platform::MessageSink& messages,
                                    const PreparedDescriptor& prepared);
// Takes away the skin.dat.tmp of a skin that is not to be committed, so that
// it stays exactly as it was. Best-effort.
void DiscardSkinDescriptor(platform::FileSystem& files, const PreparedDescriptor& prepared);

}  // namespace dsu::skins
