#include "kuids/folder_kuids.h"

#include <gtest/gtest.h>

#include "platform/failure.h"

namespace dsu::kuids {
namespace {

using platform::NotFoundError;

std::vector<std::u16string> Keys(const colFolderKuids& table) {
    std::vector<std::u16string> keys;
    for (const FolderKuid& record : table) keys.push_back(record->Key);
    return keys;
}

TEST(FolderKuids, FirstRegistrationOfAKeyStaysInAnyLetterCase) {
    colFolderKuids table;
    const FolderKuid first = table.Add(u"gp38", u"<kuid:1:1>");
    const FolderKuid second = table.Add(u"GP38", u"<kuid:2:2>");
    EXPECT_EQ(table.Count(), 1u);
    EXPECT_EQ(table.Item(u"gp38"), first);
    EXPECT_EQ(table.Item(u"Gp38"), first);
    EXPECT_EQ(table.Item(u"GP38")->Kuid, u"<kuid:1:1>");
    // The dropped record is the caller's alone.
    EXPECT_NE(second, first);
    EXPECT_EQ(second->Key, u"GP38");
    EXPECT_EQ(second->Kuid, u"<kuid:2:2>");
    // Stored letter case comes back as stored.
    EXPECT_EQ(table.Item(u"GP38")->Key, u"gp38");
}

TEST(FolderKuids, KeysCompareBeyondAsciiLikeFileNames) {
    colFolderKuids table;
    table.Add(u"\u00e9t\u00e9_\u0434\u0432", u"<kuid:3:3>");
    EXPECT_EQ(table.Item(u"\u00c9T\u00c9_\u0414\u0412")->Kuid, u"<kuid:3:3>");
    EXPECT_EQ(table.Find(u"ete_dv"), nullptr);
}

TEST(FolderKuids, RecordsAreSharedObjects) {
    colFolderKuids table;
    table.Add(u"a", u"<kuid:1:1>");
    FolderKuid held = table.Item(u"a");
    held->Kuid = u"<kuid:9:9>";
    EXPECT_EQ(table.Item(1)->Kuid, u"<kuid:9:9>");
    table.Remove(u"A");
    EXPECT_EQ(held->Kuid, u"<kuid:9:9>");  // outlives its removal from the table
}

TEST(FolderKuids, PositionsKeysAndOrder) {
    colFolderKuids table;
    EXPECT_THROW(table.Item(1), NotFoundError);
    EXPECT_THROW(table.Item(u"x"), NotFoundError);
    EXPECT_THROW(table.Item(0), NotFoundError);

    table.Add(u"X", u"<x>");
    table.Add(u"Y", u"<y>");
    table.Add(u"x", u"<x2>");
    table.Add(u"Z", u"<z>");
    table.Add(u"1", u"<digits>");
    EXPECT_EQ(Keys(table), (std::vector<std::u16string>{u"X", u"Y", u"Z", u"1"}));
    EXPECT_EQ(table.Count(), 4u);
    EXPECT_EQ(table.Item(1)->Key, u"X");
    EXPECT_THROW(table.Item(table.Count() + 1), NotFoundError);
    // A key made of digits is a key, not a position.
    EXPECT_EQ(table.Item(u"1")->Kuid, u"<digits>");

    table.Remove(u"y");
    EXPECT_THROW(table.Item(u"Y"), NotFoundError);
    EXPECT_EQ(table.Item(2)->Key, u"Z");
    table.Add(u"Y", u"<y again>");
    EXPECT_EQ(Keys(table), (std::vector<std::u16string>{u"X", u"Z", u"1", u"Y"}));

    // Failed removals change nothing.
    EXPECT_THROW(table.Remove(u"missing"), NotFoundError);
    EXPECT_THROW(table.Remove(9), NotFoundError);
    table.Remove(1);
    EXPECT_EQ(Keys(table), (std::vector<std::u16string>{u"Z", u"1", u"Y"}));
}

}  // namespace
}  // namespace dsu::kuids
