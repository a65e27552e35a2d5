#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace dsu::platform {
namespace {

TEST(Text, FoldsLetterCaseBeyondAsciiAsWindowsDoes) {
    struct Case {
        std::u16string a, b;
        bool equal;
    };
    const Case cases[] = {
        {u"gp38_hi_dyn", u"GP38_HI_DYN", true},
        {u"\u00e9t\u00e9", u"\u00c9T\u00c9", true},            // Latin-1 letters
        {u"\u043f\u0440\u0438", u"\u041f\u0420\u0418", true},  // Cyrillic
        {u"\u03c3", u"\u03a3", true},                          // Greek sigma
        {u"stra\u00dfe", u"STRASSE", false},                   // no multi-letter mappings
        {u"a", u"b", false},
        {u"ab", u"a", false},
        {u"\U0001F600", u"\U0001F600", true},  // surrogates pass as they are
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EqualFolded(c.a, c.b), c.equal);
        EXPECT_EQ(CompareFolded(c.a, c.b) == 0, c.equal);
        if (c.equal) {
            EXPECT_EQ(FoldedHash{}(c.a), FoldedHash{}(c.b));
        }
    }
}

TEST(Text, ListingOrderIgnoresCaseThenBreaksTiesByExactName) {
    std::vector<std::u16string> names = {u"b", u"B", u"a", u"_x", u"A", u"c10", u"C1"};
    std::sort(names.begin(), names.end(), ListingOrder);
    const std::vector<std::u16string> expected = {u"A", u"a", u"B", u"b", u"C1", u"c10", u"_x"};
    EXPECT_EQ(names, expected);
}

// SortListing folds each name once; it must give exactly the comparator's order.
TEST(Text, SortListingGivesListingOrder) {
    const std::u16string letters[] = {u"a", u"A", u"\u00e4", u"\u00c4",
                                      u"_", u"1", u"\u00df", u"\U0001F600"};
    std::vector<std::u16string> names = {u""};
    for (const auto& x : letters)
        for (const auto& y : letters) {
            names.push_back(x + y);
            names.push_back(y + u"b" + x);
        }
    std::vector<std::u16string> expected = names;
    std::sort(expected.begin(), expected.end(), ListingOrder);
    std::reverse(names.begin(), names.end());
    // Listings sort full paths behind their folder's path, folding the names only.
    std::vector<std::u16string> paths, expectedPaths;
    for (const auto& name : names) paths.push_back(u"C:\\Z\\" + name);
    for (const auto& name : expected) expectedPaths.push_back(u"C:\\Z\\" + name);
    SortListing(names);
    EXPECT_EQ(names, expected);
    SortListing(paths, 5);
    EXPECT_EQ(paths, expectedPaths);
}

TEST(Text, EveryCodePageByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::u16string wide = FromCodePage(all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(ToCodePage(wide), all);
}

TEST(Text, Utf8KeepsBytesThatAreNotUtf8) {
    const std::string cases[] = {
        "plain",    "caf\xc3\xa9",  "\xf0\x9f\x98\x80", "bad\xff\xfe",
        "\xc0\xaf", "\xed\xa0\x80", "cut\xe2\x82",
    };
    for (const std::string& bytes : cases) EXPECT_EQ(ToUtf8(FromUtf8(bytes)), bytes);
    EXPECT_EQ(FromUtf8("\xf0\x9f\x98\x80"), u"\U0001F600");
    EXPECT_EQ(ToUtf8(u"caf\u00e9"), "caf\xc3\xa9");
    std::string path = "/prefix/";
    AppendUtf8(path, u"caf\u00e9\U0001F600");
    EXPECT_EQ(path, "/prefix/caf\xc3\xa9\xf0\x9f\x98\x80");
}

}  // namespace
}  // namespace dsu::platform
