// The skin descriptor skin.dat: its version test and its rewrite from
// version "1.3" to version "1.5".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
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

// Rewrites the skin.dat of each of `skinFolders` that is at version "1.3" to
// version "1.5", in their order, up to the first failed file operation, which
// throws FileError: that skin keeps its old skin.dat (or the complete new one
// lies in its skin.dat.tmp), every later one stays as it was. Each new
// descriptor goes through skin.dat.tmp, which is flushed to stable storage
// and then replaces skin.dat atomically; lines 3 and later are copied byte
// for byte, each ended by CR LF. A read-only skin.dat is not replaced: its
// replace fails. The descriptors are prepared on `pool`, and the replaces made
// before the end are durable when it returns or throws. `wait` runs on the
// calling thread after each skin and while it waits, and must not throw (a
// window's painting). `stop` runs there before each skin's turn and while it
// waits: what it throws ends the run as a failure there would, and it never
// runs once the last skin is done, so that the final flush always finishes.
void UpgradeSkinDescriptors(platform::FileSystem& files, const kuids::colFolderKuids& table,
                            platform::MessageSink& messages, platform::WorkPool& pool,
                            const std::vector<std::u16string>& skinFolders,
                            const std::function<void()>& wait,
                            const std::function<void()>& stop = {});

}  // namespace dsu::skins
