#include "platform/paths.h"

#include <gtest/gtest.h>

#include "platform/failure.h"

namespace dsu::platform {
namespace {

struct PathCase {
    std::u16string argument, chopPathOff, chopFileOff, resolvePath, unResolvePath;
};

TEST(PathHelpers, TableOfCases) {
    const PathCase cases[] = {
        {u"", u"", u"", u"\\", u""},
        {u"gp38", u"", u"", u"gp38\\", u"gp38"},
        {u"\\", u"", u"\\", u"\\", u""},
        {u"C:", u"", u"", u"C:\\", u"C:"},
        {u"C:\\", u"", u"C:\\", u"C:\\", u"C:"},
        {u"C:\\Skins\\gp38", u"gp38", u"C:\\Skins\\", u"C:\\Skins\\gp38\\", u"C:\\Skins\\gp38"},
        {u"C:\\Skins\\gp38\\", u"", u"C:\\Skins\\gp38\\", u"C:\\Skins\\gp38\\", u"C:\\Skins\\gp38"},
        {u"C:\\Skins\\gp38\\skin.dat", u"skin.dat", u"C:\\Skins\\gp38\\",
         u"C:\\Skins\\gp38\\skin.dat\\", u"C:\\Skins\\gp38\\skin.dat"},
        {u"\\skin.dat", u"skin.dat", u"\\", u"\\skin.dat\\", u"\\skin.dat"},
        {u"C:/Skins/gp38", u"", u"", u"C:/Skins/gp38\\", u"C:/Skins/gp38"},
        // Two backslashes at the end.
        {u"C:\\Skins\\\\", u"", u"C:\\Skins\\", u"C:\\Skins\\\\", u"C:\\Skins\\"},
        // A name and a file joined by two backslashes.
        {u"gp38\\\\Body", u"Body", u"gp38\\", u"gp38\\\\Body\\", u"gp38\\\\Body"},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(std::string(c.argument.begin(), c.argument.end()));
        EXPECT_EQ(ChopPathOff(c.argument), c.chopPathOff);
        EXPECT_EQ(ChopFileOff(c.argument), c.chopFileOff);
        EXPECT_EQ(ResolvePath(c.argument), c.resolvePath);
        EXPECT_EQ(UnResolvePath(c.argument), c.unResolvePath);
    }
}

TEST(PathHelpers, ChopsOverflowPastThe16BitScan) {
    const std::u16string longest(32767, u'a');
    EXPECT_THROW(ChopPathOff(longest), OverflowError);
    EXPECT_THROW(ChopFileOff(longest), OverflowError);
    EXPECT_THROW(ChopPathOff(longest + u"\\"), OverflowError);
    EXPECT_THROW(ChopFileOff(std::u16string(40000, u'\\')), OverflowError);

    std::u16string withSeparator(32767, u'a');
    withSeparator[100] = u'\\';
    EXPECT_EQ(ChopPathOff(withSeparator), std::u16string(32767 - 101, u'a'));
    EXPECT_EQ(ChopFileOff(withSeparator), std::u16string(100, u'a') + u"\\");
    EXPECT_EQ(ChopPathOff(std::u16string(32766, u'a')), u"");

    // The other two helpers have no limit.
    EXPECT_EQ(ResolvePath(std::u16string(40000, u'a')).size(), 40001u);
    EXPECT_EQ(UnResolvePath(std::u16string(40000, u'\\')).size(), 39999u);
}

}  // namespace
}  // namespace dsu::platform
