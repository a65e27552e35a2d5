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

UpgradeOutcome UpgradeSkinDescriptor(platform::FileSystem& files,
                                     const kuids::colFolderKuids& table,
                                     platform::MessageSink& messages,
                                     const std::u16string& skinFolder) {
    const std::u16string folder = platform::ResolvePath(skinFolder);
    const std::u16string descriptor = folder + u"skin.dat";
    const std::u16string temporary = folder + u"skin.dat.tmp";

    auto reader = OpenCandidate(files, descriptor);
    if (!reader) return UpgradeOutcome::NotCandidate;

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
        // The reference is translated before skin.dat.tmp is made, so that a
        // skin left alone never gets a temporary whose removal could fail.
        if (reader->AtEnd()) {
            abandon();
            return UpgradeOutcome::NoReference;
        }
        std::string line;
        reader->ReadLine(line);
        const std::u16string reference = ApplyTemplatePrefixRule(platform::FromCodePage(line));
        const std::u16string kuidForm =
            TranslateSkinReference(table, messages, reference, platform::ChopPathOff(skinFolder));
        if (kuidForm.empty()) {
            abandon();
            return UpgradeOutcome::KuidMissing;
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
        files.ReplaceFile(temporary, descriptor);
        return UpgradeOutcome::Upgraded;
    } catch (const platform::Failure&) {
        abandon();
        throw;
    }
}

}  // namespace dsu::skins
