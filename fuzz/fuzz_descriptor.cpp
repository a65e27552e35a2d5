// The descriptor rewrite on any skin.dat: lines 3 and later come out byte
// for byte, every line ends in CR LF, and skin.dat is whole at every moment,
// a power cut included.
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "kuids/folder_kuids.h"
#include "platform/failure.h"
#include "skins/descriptor.h"
#include "tests/support/simulated_disk.h"

using namespace dsu;

namespace {

class CountedMessages final : public platform::MessageSink {
  public:
    void ShowMessage(const std::u16string&, platform::MessageKind) override { ++shown; }
    int shown = 0;
};

// Lines as the reader splits them: a CR ends a line, an LF right behind it
// belongs to the end; the last line may have no end.
std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            line += text[i];
            continue;
        }
        lines.push_back(line);
        line.clear();
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

const kuids::colFolderKuids& Table() {
    static const kuids::colFolderKuids table = [] {
        kuids::colFolderKuids t;
        t.Add(u"gp38_hi_dyn", u"<kuid:30501:100>");
        t.Add(u"gp38_hi_dyn_Body", u"<kuid2:30501:1000:1>");
        t.Add(u"sd40", u"<kuid:30501:101>");
        t.Add(u"sd40_Cab", u"<kuid2:30501:1003:1>");
        t.Add(u"x", u"<kuid:1:1>");
        t.Add(u"x_", u"<kuid:1:2>");
        return t;
    }();
    return table;
}

// The update run's own composition: the skin prepared on a pool.
void Upgrade(platform::FileSystem& files, platform::MessageSink& messages) {
    static platform::WorkPool pool(2);
    skins::UpgradeSkinDescriptors(files, Table(), messages, pool, {u"C:\\Skin"}, {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte steers: its low bit puts a version line ahead of the
    // rest, the others choose the moment of a power cut.
    const unsigned steer = data[0];
    std::string old(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((steer & 1) != 0) old.insert(0, "1.3\r\n");
    const std::vector<std::string> lines = SplitLines(old);

    CountedMessages messages;
    const testing::DiskTree before{{"Skin/skin.dat", old}};
    testing::SimulatedDisk disk({}, u"C:", before);
    try {
        Upgrade(disk, messages);
    } catch (const platform::FileError&) {
        FUZZ_CHECK(old.empty());  // the only file that cannot be read
        FUZZ_CHECK(disk.Visible().at("Skin/skin.dat") == old);
        FUZZ_CHECK(!disk.Visible().contains("Skin/skin.dat.tmp"));
        return 0;
    }
    const testing::DiskTree after = disk.Visible();
    FUZZ_CHECK(!after.contains("Skin/skin.dat.tmp"));
    const std::string now = *after.at("Skin/skin.dat");

    const bool candidate = !lines.empty() && lines[0] == "1.3";
    if (now == old) {
        // Left alone: not a candidate, no reference, or a kuid missing.
        FUZZ_CHECK(!candidate || lines.size() == 1 || messages.shown == 1);
        FUZZ_CHECK(messages.shown == 0 || candidate);
        return 0;
    }
    FUZZ_CHECK(candidate && lines.size() >= 2);
    // "1.5", the kuid form, then lines 3 and later, every one ending CR LF.
    FUZZ_CHECK(now.starts_with("1.5\r\n<"));
    const std::size_t second = now.find("\r\n", 5);
    FUZZ_CHECK(second != std::string::npos);
    FUZZ_CHECK(now.substr(5, second - 5).find_first_of("\r\n") == std::string::npos);
    std::string rest;
    for (std::size_t i = 2; i < lines.size(); ++i) rest += lines[i] + "\r\n";
    FUZZ_CHECK(now.substr(second + 2) == rest);

    // Cut short at a moment of the first byte's choosing, skin.dat is old or
    // new on the disk, whatever else the cut leaves.
    testing::SimulatedDisk cut({}, u"C:", before);
    cut.CutPowerAfter(static_cast<long>(steer >> 1) % (disk.Steps() + 1));
    try {
        Upgrade(cut, messages);
    } catch (const testing::PowerCut&) {
    }
    std::mt19937 random(steer);
    for (int i = 0; i < 4; ++i) {
        const testing::DiskTree state = cut.AfterPowerCut(random);
        FUZZ_CHECK(state.contains("Skin/skin.dat"));
        const std::string& survived = *state.at("Skin/skin.dat");
        FUZZ_CHECK(survived == old || survived == now);
    }
    return 0;
}
