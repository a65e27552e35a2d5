#include "skins/descriptor.h"

#include <exception>
#include <new>
#include <optional>
#include <utility>

#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "skins/reference.h"

namespace dsu::skins {

using platform::BestEffort;

std::unique_ptr<platform::TextReader> OpenCandidate(platform::FileSystem& files,
                                                    const std::u16string& descriptor) {
    auto reader = files.TryOpenReader(descriptor);
    if (!reader) return nullptr;
    // One byte past the version tells a longer line, however long it is.
    std::string version;
    const bool whole = reader->ReadLinePart(version, kCandidateVersion.size() + 1);
    if (!whole || version != kCandidateVersion) {
        reader->Close();
        return nullptr;
    }
    return reader;
}

std::u16string ApplyTemplatePrefixRule(std::u16string_view reference) {
    constexpr std::u16string_view prefix = u"gp38\\";
    if (reference.size() < prefix.size()) return std::u16string(reference);
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = reference[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != prefix[i]) return std::u16string(reference);
    }
    return u"gp38_hi_dyn\\" + std::u16string(reference.substr(prefix.size()));
}

namespace {

// One skin's rewrite as far as it can go beside other skins': its new
// descriptor complete and flushed in skin.dat.tmp, its messages held back.
struct PreparedDescriptor {
    UpgradeOutcome outcome = UpgradeOutcome::NotCandidate;
    std::u16string descriptor;  // skin.dat
    std::u16string temporary;   // skin.dat.tmp, waiting when Upgraded
    std::vector<std::pair<std::u16string, platform::MessageKind>> messages;
    // Of skin.dat before it was read: whatever is there at the skin's turn,
    // if not this, was made since.
    std::optional<platform::FileStamp> read;
    // A failure after the messages, which come first.
    std::exception_ptr failure;
    bool atItsTurn = false;  // made with nothing later in flight
};

// Keeps the messages of a skin prepared on a work thread for the ordered pass.
class HeldMessages final : public platform::MessageSink {
  public:
    explicit HeldMessages(PreparedDescriptor& prepared) : prepared_(prepared) {}
    void ShowMessage(const std::u16string& text, platform::MessageKind kind) override {
        prepared_.messages.emplace_back(text, kind);
    }

  private:
    PreparedDescriptor& prepared_;
};

// A reference longer than this names no folder the table can hold: it is
// kept only up to here, and so misses. Lines behind it are copied a block at
// a time, so that no line is ever held whole.
constexpr std::size_t kMaxReference = 32 * 1024;
constexpr std::size_t kCopyBlock = 64 * 1024;

// Reads skin.dat, makes skin.dat.tmp, translates the reference and writes
// and flushes the rest. The messages are held for the commit, so that they
// come in the skins' order. A failed file operation throws FileError, and
// skin.dat.tmp is then gone; one after a message is held, to follow it. At
// its turn, nothing later is in flight and a skin.dat.tmp already there is
// replaced; ahead of it, such a file fails the prepare and is left as it was.
PreparedDescriptor PrepareSkinDescriptor(platform::FileSystem& files,
                                         const kuids::colFolderKuids& table,
                                         const std::u16string& skinFolder, bool atItsTurn) {
    PreparedDescriptor prepared;
    prepared.atItsTurn = atItsTurn;
    const std::u16string folder = platform::ResolvePath(skinFolder);
    prepared.descriptor = folder + u"skin.dat";
    prepared.temporary = folder + u"skin.dat.tmp";
    const std::u16string& temporary = prepared.temporary;

    std::unique_ptr<platform::TextReader> reader;
    std::unique_ptr<platform::TextWriter> writer;
    bool made = false;  // skin.dat.tmp, by this prepare
    // Leaves skin.dat as it was and takes away the unfinished skin.dat.tmp.
    auto abandon = [&] {
        BestEffort([&] {
            if (reader) reader->Close();
        });
        BestEffort([&] {
            if (writer) writer->Close();
        });
        writer.reset();
        if (made) BestEffort([&] { files.DeleteFile(temporary); });
    };
    auto closeBoth = [&] {
        writer->Close();
        writer.reset();
        reader->Close();
        reader.reset();
    };
    // Gives the skin up on its own: skin.dat.tmp goes as a step of its own.
    auto leave = [&](UpgradeOutcome outcome) {
        closeBoth();
        files.DeleteFile(temporary);
        made = false;
        prepared.outcome = outcome;
        return prepared;
    };

    try {
        prepared.read = files.StampOf(prepared.descriptor);
        reader = OpenCandidate(files, prepared.descriptor);
        if (!reader) return prepared;
        writer = files.CreateWriter(
            temporary, atItsTurn ? platform::Existing::Replace : platform::Existing::Keep);
        made = true;
        writer->WriteLine(kUpgradedVersion);
        if (reader->AtEnd()) return leave(UpgradeOutcome::NoReference);
        std::string line;
        if (!reader->ReadLinePart(line, kMaxReference)) {
            std::string rest;
            while (!reader->ReadLinePart(rest, kCopyBlock)) {
            }
        }
        const std::u16string reference = ApplyTemplatePrefixRule(platform::FromCodePage(line));
        HeldMessages messages(prepared);
        const std::u16string kuidForm =
            TranslateSkinReference(table, messages, reference, platform::ChopPathOff(skinFolder));
        if (kuidForm.empty()) return leave(UpgradeOutcome::KuidMissing);
        writer->WriteLine(platform::ToCodePage(kuidForm));
        while (!reader->AtEnd()) {
            while (!reader->ReadLinePart(line, kCopyBlock)) writer->Write(line);
            writer->WriteLine(line);
        }
        // On stable storage before it takes the place of skin.dat: a power cut
        // must never leave an empty or partial descriptor.
        writer->Flush();
        closeBoth();
        prepared.outcome = UpgradeOutcome::Upgraded;
    } catch (const platform::Failure&) {
        abandon();
        if (prepared.messages.empty()) throw;
        // The skin's message is shown, then the failure ends the run.
        prepared.failure = std::current_exception();
        prepared.outcome = UpgradeOutcome::KuidMissing;
    } catch (const std::bad_alloc&) {
        abandon();
        throw platform::FileError(u"read", prepared.descriptor, u"Not enough memory");
    }
    return prepared;
}

// Takes away the skin.dat.tmp of a skin that is not to be committed, so that
// it stays exactly as it was. Best-effort.
void DiscardSkinDescriptor(platform::FileSystem& files, const PreparedDescriptor& prepared) {
    if (prepared.outcome != UpgradeOutcome::Upgraded) return;
    BestEffort([&] { files.DeleteFile(prepared.temporary); });
}

// Shows the skin's messages, then puts skin.dat.tmp in the place of skin.dat
// (durable only after FlushReplace of skin.dat).
// A failed replace throws, and its skin.dat.tmp is then discarded with the rest.
UpgradeOutcome CommitSkinDescriptor(platform::FileSystem& files, platform::MessageSink& messages,
                                    const PreparedDescriptor& prepared) {
    for (const auto& [text, kind] : prepared.messages) messages.ShowMessage(text, kind);
    if (prepared.failure) std::rethrow_exception(prepared.failure);
    if (prepared.outcome != UpgradeOutcome::Upgraded) return prepared.outcome;
    files.ReplaceFile(prepared.temporary, prepared.descriptor);
    return UpgradeOutcome::Upgraded;
}

// Concurrent flushes of one file system are committed together.
void FlushReplaces(platform::FileSystem& files, platform::WorkPool& pool,
                   const std::vector<std::u16string>& descriptors,
                   const std::function<void()>& wait) {
    platform::InOrder(
        pool, descriptors.size(), platform::kSmallResultsAhead,
        [&](std::size_t i, bool) {
            files.FlushReplace(descriptors[i]);
            return true;
        },
        [](std::size_t, bool) { return true; }, [](bool) {}, wait);
}

}  // namespace

void UpgradeSkinDescriptors(platform::FileSystem& files, const kuids::colFolderKuids& table,
                            platform::MessageSink& messages, platform::WorkPool& pool,
                            const std::vector<std::u16string>& skinFolders,
                            const std::function<void()>& wait, const std::function<void()>& stop) {
    // Each new descriptor is written and flushed on the pool; this thread
    // then shows the messages and swaps the descriptors in, in listing order,
    // up to the first failure. Descriptors prepared beyond it are discarded,
    // so that every later skin stays as it was. The replaces stay on this one
    // thread: made from several, a failed one could follow later skins'.
    // Room for every skin: a skin put in place is then always counted for
    // the flush, as nothing is allocated between its replace and its count.
    std::vector<std::u16string> replaced;
    replaced.reserve(skinFolders.size());
    try {
        platform::InOrder(
            pool, skinFolders.size(), platform::kDescriptorsAhead,
            [&](std::size_t i, bool atItsTurn) {
                return PrepareSkinDescriptor(files, table, skinFolders[i], atItsTurn);
            },
            [&](std::size_t, PreparedDescriptor& prepared) {
                // A stop comes before a skin, never inside one.
                if (stop) stop();
                // Whatever was made ahead is made again at its turn when
                // skin.dat was written since it was read, whether it was to be
                // upgraded or not, so that no edit is lost that one skin at a
                // time would see; and so is a failure, which only counts there.
                if (!prepared.atItsTurn &&
                    (prepared.failure || files.StampOf(prepared.descriptor) != prepared.read))
                    return false;
                UpgradeOutcome outcome = UpgradeOutcome::NotCandidate;
                try {
                    outcome = CommitSkinDescriptor(files, messages, prepared);
                } catch (const platform::Failure&) {
                    // A failed replace changed nothing. Ahead of its turn it
                    // may have lacked only what the work in flight holds (a
                    // descriptor to look the name up with): the skin is made
                    // again at its turn, where a failure ends the run.
                    if (prepared.atItsTurn) throw;
                    return false;
                }
                if (outcome == UpgradeOutcome::Upgraded)
                    replaced.push_back(std::move(prepared.descriptor));
                if (wait) wait();
                return true;
            },
            [&](const PreparedDescriptor& prepared) { DiscardSkinDescriptor(files, prepared); },
            [&] {
                if (wait) wait();
                if (stop) stop();
            });
    } catch (...) {
        // The skins before the failure stay upgraded, and durably so, even
        // when the failure was a stop or memory that ran out; a failed flush
        // among them is the earlier failure and is the one told.
        FlushReplaces(files, pool, replaced, wait);
        throw;
    }
    FlushReplaces(files, pool, replaced, wait);
}

}  // namespace dsu::skins
