#include "skins/template_copy.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/faulty_files.h"
#include "tests/support/temp_folder.h"

namespace dsu::skins {
namespace {

using testing::TempFolder;

class TemplateCopy : public ::testing::Test {
  protected:
    TempFolder temp;
    std::unique_ptr<platform::FileSystem> fs = platform::MakeSystemFileSystem();

    void Copy(platform::FileSystem& files) {
        CopyTemplateSkin(files, temp.Path(u"Skins\\gp38"), temp.Path(u"Skins\\gp38_hi_dyn"));
    }
    static void MakeSource(TempFolder& folder) {
        folder.Write(u"Skins/gp38/body.tga", std::string("\0body", 5));
        folder.Write(u"Skins/gp38/config.txt", "kuid <kuid:1:1>\r\n");
        folder.Write(u"Skins/gp38/textures/a.texture", "a");
        folder.Write(u"Skins/gp38/textures/deeper/never.txt", "deep");
        folder.MakeFolder(u"Skins/gp38/empty");
    }
};

TEST_F(TemplateCopy, CopiesOneLevelDeep) {
    MakeSource(temp);
    Copy(*fs);
    EXPECT_EQ(temp.Read(u"Skins/gp38_hi_dyn/body.tga"), std::string("\0body", 5));
    EXPECT_EQ(temp.Read(u"Skins/gp38_hi_dyn/config.txt"), "kuid <kuid:1:1>\r\n");
    EXPECT_EQ(temp.Read(u"Skins/gp38_hi_dyn/textures/a.texture"), "a");
    EXPECT_TRUE(temp.Exists(u"Skins/gp38_hi_dyn/empty"));
    EXPECT_FALSE(temp.Exists(u"Skins/gp38_hi_dyn/textures/deeper"));
}

TEST_F(TemplateCopy, ReplacesOlderFilesAndKeepsExtraOnes) {
    MakeSource(temp);
    temp.Write(u"Skins/gp38_hi_dyn/body.tga", "an older and longer body");
    temp.Write(u"Skins/gp38_hi_dyn/extra.txt", "mine");
    temp.Write(u"Skins/gp38_hi_dyn/textures/extra.texture", "mine too");
    Copy(*fs);
    Copy(*fs);  // again over an unchanged source: the same files
    EXPECT_EQ(temp.Read(u"Skins/gp38_hi_dyn/body.tga"), std::string("\0body", 5));
    EXPECT_EQ(temp.Read(u"Skins/gp38_hi_dyn/extra.txt"), "mine");
    EXPECT_EQ(temp.Read(u"Skins/gp38_hi_dyn/textures/extra.texture"), "mine too");
    EXPECT_EQ(fs->ListFiles(temp.Path(u"Skins\\gp38_hi_dyn")),
              (std::vector<std::u16string>{u"body.tga", u"config.txt", u"extra.txt"}));
}

TEST_F(TemplateCopy, MissingSourceOrTargetParent) {
    temp.MakeFolder(u"Skins");
    Copy(*fs);  // no source: only the target folder is made
    EXPECT_TRUE(temp.Exists(u"Skins/gp38_hi_dyn"));
    EXPECT_TRUE(fs->ListFiles(temp.Path(u"Skins\\gp38_hi_dyn")).empty());

    TempFolder other;
    other.Write(u"gp38/a.txt", "a");
    CopyTemplateSkin(*fs, other.Path(u"gp38"), other.Path(u"missing\\gp38_hi_dyn"));
    EXPECT_FALSE(other.Exists(u"missing"));
}

TEST_F(TemplateCopy, EachFailedStepIsSkippedAndTheRestIsCopied) {
    MakeSource(temp);
    testing::FaultyFileSystem counting(*fs);
    Copy(counting);
    const std::size_t operations = counting.Calls().size();
    const std::u16string_view textures = u"\\gp38\\textures";
    bool failedTexturesListing = false;

    for (std::size_t k = 1; k <= operations; ++k) {
        const testing::Call failing = counting.Calls()[k - 1];
        SCOPED_TRACE(std::string(testing::OpName(failing.op)) + " " +
                     platform::ToUtf8(failing.path));
        TempFolder run;
        MakeSource(run);
        testing::FaultyFileSystem faulty(*fs);
        faulty.FailCall(static_cast<int>(k));
        EXPECT_NO_THROW(
            CopyTemplateSkin(faulty, run.Path(u"Skins\\gp38"), run.Path(u"Skins\\gp38_hi_dyn")));
        EXPECT_TRUE(faulty.Failed());
        // A first-level folder that cannot be listed is still made, empty.
        if (failing.op == testing::Op::ListFiles && failing.path.ends_with(textures)) {
            failedTexturesListing = true;
            EXPECT_TRUE(run.Exists(u"Skins/gp38_hi_dyn/textures"));
            EXPECT_FALSE(run.Exists(u"Skins/gp38_hi_dyn/textures/a.texture"));
        }
        // Every file that is there is whole.
        for (auto file : {u"body.tga", u"config.txt", u"textures/a.texture"}) {
            const std::u16string target = std::u16string(u"Skins/gp38_hi_dyn/") + file;
            if (run.Exists(target)) {
                EXPECT_EQ(run.Read(target), run.Read(std::u16string(u"Skins/gp38/") + file));
            }
        }
    }
    EXPECT_TRUE(failedTexturesListing);
}

}  // namespace
}  // namespace dsu::skins
