#include "skins/descriptor.h"

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
    std::string version;
    reader->ReadLine(version);
    if (version != kCandidateVersion) {
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

}  // namespace

PreparedDescriptor PrepareSkinDescriptor(platform::FileSystem& files,
                                         const kuids::colFolderKuids& table,
                                         const std::u16string& skinFolder) {
    PreparedDescriptor prepared;
    const std::u16string folder = platform::ResolvePath(skinFolder);
    prepared.descriptor = folder + u"skin.dat";
    prepared.temporary = folder + u"skin.dat.tmp";
    const std::u16string& temporary = prepared.temporary;

    std::unique_ptr<platform::TextReader> reader;
    std::unique_ptr<platform::TextWriter> writer;
    // Leaves skin.dat as it was and takes away the unfinished skin.dat.tmp.
    auto abandon = [&] {
        BestEffort([&] {
            if (writer) writer->Close();
        });
        BestEffort([&] {
            if (reader) reader->Close();
        });
        writer.reset();
        reader.reset();
        BestEffort([&] { files.DeleteFile(temporary); });
    };

    try {
        reader = OpenCandidate(files, prepared.descriptor);
    } catch (const platform::Failure&) {
        prepared.failure = std::current_exception();
        return prepared;
    }
    if (!reader) return prepared;
    try {
        // The reference is translated before skin.dat.tmp is made, so that a
        // skin left alone never gets a temporary whose removal could fail.
        if (reader->AtEnd()) {
            abandon();
            prepared.outcome = UpgradeOutcome::NoReference;
            return prepared;
        }
        std::string line;
        reader->ReadLine(line);
        const std::u16string reference = ApplyTemplatePrefixRule(platform::FromCodePage(line));
        HeldMessages messages(prepared);
        const std::u16string kuidForm =
            TranslateSkinReference(table, messages, reference, platform::ChopPathOff(skinFolder));
        if (kuidForm.empty()) {
            abandon();
            prepared.outcome = UpgradeOutcome::KuidMissing;
            return prepared;
        }
        writer = files.CreateWriter(temporary);
        writer->WriteLine(kUpgradedVersion);
        writer->WriteLine(platform::ToCodePage(kuidForm));
        while (!reader->AtEnd()) {
            reader->ReadLine(line);
            writer->WriteLine(line);
        }
        // On stable storage before it takes the place of skin.dat: a power cut
        // must never leave an empty or partial descriptor.
        writer->Flush();
        writer->Close();
        writer.reset();
        reader->Close();
        reader.reset();
        prepared.outcome = UpgradeOutcome::Upgraded;
    } catch (const platform::Failure&) {
        abandon();
        prepared.failure = std::current_exception();
    }
    return prepared;
}

UpgradeOutcome CommitSkinDescriptor(platform::FileSystem& files, platform::MessageSink& messages,
                                    const PreparedDescriptor& prepared) {
    for (const auto& [text, kind] : prepared.messages) messages.ShowMessage(text, kind);
    if (prepared.failure) std::rethrow_exception(prepared.failure);
    if (prepared.outcome != UpgradeOutcome::Upgraded) return prepared.outcome;
    try {
        files.ReplaceFile(prepared.temporary, prepared.descriptor);
    } catch (const platform::Failure&) {
        DiscardSkinDescriptor(files, prepared);
        throw;
    }
    return UpgradeOutcome::Upgraded;
}

void DiscardSkinDescriptor(platform::FileSystem& files, const PreparedDescriptor& prepared) {
    if (prepared.outcome != UpgradeOutcome::Upgraded || prepared.failure) return;
    BestEffort([&] { files.DeleteFile(prepared.temporary); });
}

UpgradeOutcome UpgradeSkinDescriptor(platform::FileSystem& files,
                                     const kuids::colFolderKuids& table,
                                     platform::MessageSink& messages,
                                     const std::u16string& skinFolder) {
    const PreparedDescriptor prepared = PrepareSkinDescriptor(files, table, skinFolder);
    const UpgradeOutcome outcome = CommitSkinDescriptor(files, messages, prepared);
    if (outcome == UpgradeOutcome::Upgraded) files.FlushReplace(prepared.descriptor);
    return outcome;
}

}  // namespace dsu::skins
