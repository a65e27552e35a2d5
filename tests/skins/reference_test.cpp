#include "skins/reference.h"

#include <gtest/gtest.h>

#include "tests/support/recording_view.h"

namespace dsu::skins {
namespace {

TEST(TranslateSkinReference, TableOfReferences) {
    kuids::colFolderKuids table;
    table.Add(u"gp38_hi_dyn", u"<kuid:1:100>");
    table.Add(u"gp38_hi_dyn_body", u"<KUID2:1:1000:1>");
    table.Add(u"abc", u"<kuid:abc>");
    table.Add(u"abc_", u"<kuid:abc_>");
    table.Add(u"a", u"<kuid:a>");
    table.Add(u"a_b\\c", u"<kuid:a_b\\c>");
    table.Add(u"empty", u"");
    table.Add(u"empty_x", u"<kuid:ex>");
    table.Add(u"only", u"<kuid:only>");

    struct Case {
        std::u16string line;
        std::u16string result;
        std::string message;  // "" when none
    };
    const Case cases[] = {
        {u"gp38_hi_dyn\\body", u"<KUID2:1:1000:1>\\<kuid:1:100>", ""},
        {u"GP38_HI_DYN\\Body", u"<KUID2:1:1000:1>\\<kuid:1:100>", ""},
        {u"abc\\", u"<kuid:abc_>\\<kuid:abc>", ""},
        {u"a\\b\\c", u"<kuid:a_b\\c>\\<kuid:a>", ""},
        {u"nobackslash", u"", "error: Could not find a kuid for \r\nMySkin not upgraded."},
        {u"\\body", u"", "error: Could not find a kuid for \r\nMySkin not upgraded."},
        {u"missing\\body", u"", "error: Could not find a kuid for missing\r\nMySkin not upgraded."},
        {u"only\\body", u"", "error: Could not find a kuid for only_body\r\nMySkin not upgraded."},
        {u"empty\\x", u"", "error: Could not find a kuid for empty\r\nMySkin not upgraded."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.line));
        testing::RecordingView view;
        EXPECT_EQ(TranslateSkinReference(table, view, c.line, u"MySkin"), c.result);
        if (c.message.empty()) {
            EXPECT_TRUE(view.events.empty());
        } else {
            EXPECT_EQ(view.events, std::vector<std::string>{c.message});
        }
    }
}

TEST(TranslateSkinReference, AnEmptyTableMissesTheFolderKey) {
    kuids::colFolderKuids table;
    testing::RecordingView view;
    EXPECT_EQ(TranslateSkinReference(table, view, u"gp38_hi_dyn\\body", u"S"), u"");
    EXPECT_EQ(view.events, std::vector<std::string>{
                               "error: Could not find a kuid for gp38_hi_dyn\r\nS not upgraded."});
}

}  // namespace
}  // namespace dsu::skins
