// The skin descriptor skin.dat: its version test and its rewrite from
// version "1.3" to version "1.5".
#pragma once

#include <memory>
#include <string>
#include <string_view>

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
UpgradeOutcome UpgradeSkinDescriptor(platform::FileSystem& files,
                                     const kuids::colFolderKuids& table,
                                     platform::MessageSink& messages,
                                     const std::u16string& skinFolder);

}  // namespace dsu::skins
