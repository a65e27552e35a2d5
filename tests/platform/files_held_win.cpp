// The Win32 file services against a file that another handle holds, timed by
// a clock that never sleeps: which refusals are waited out, and for how long.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <numeric>

#include "platform/failure.h"
#include "platform/files.h"
#include "platform/win32.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_folder.h"

namespace dsu::platform {
namespace {

using testing::FakeClock;
using testing::TempFolder;

TEST(HeldFiles, EveryOperationWaitsOutAHeldFileAndNothingElse) {
    using Operation = std::function<void(FileSystem&, const TempFolder&)>;
    struct Case {
        const char* name;
        const char16_t* held;  // held with no sharing; null when nothing is
        Operation operation;
    };
    const auto path = [](const TempFolder& temp, const char16_t* name) { return temp.Path(name); };
    const Case cases[] = {
        {"open", u"a",
         [&](FileSystem& fs, const TempFolder& t) { fs.TryOpenReader(path(t, u"a"))->Close(); }},
        {"create", u"a",
         [&](FileSystem& fs, const TempFolder& t) {
             fs.CreateWriter(path(t, u"a"), Existing::Replace)->Close();
         }},
        {"replace the target", u"a",
         [&](FileSystem& fs, const TempFolder& t) {
             fs.ReplaceFile(path(t, u"b"), path(t, u"a"));
         }},
        {"replace with a held file", u"b",
         [&](FileSystem& fs, const TempFolder& t) {
             fs.ReplaceFile(path(t, u"b"), path(t, u"a"));
         }},
        {"delete", u"a",
         [&](FileSystem& fs, const TempFolder& t) { fs.DeleteFile(path(t, u"a")); }},
        {"copy from", u"a",
         [&](FileSystem& fs, const TempFolder& t) { fs.CopyFile(path(t, u"a"), path(t, u"c")); }},
        {"copy onto", u"a",
         [&](FileSystem& fs, const TempFolder& t) { fs.CopyFile(path(t, u"b"), path(t, u"a")); }},
        // Refusals that no wait mends fail at once.
        {"delete a read-only file", nullptr,
         [&](FileSystem& fs, const TempFolder& t) { fs.DeleteFile(path(t, u"ro")); }},
        {"create over a folder", nullptr,
         [&](FileSystem& fs, const TempFolder& t) {
             fs.CreateWriter(path(t, u"dir"), Existing::Replace);
         }},
        {"delete a folder", nullptr,
         [&](FileSystem& fs, const TempFolder& t) { fs.DeleteFile(path(t, u"dir")); }},
        {"replace a missing file", nullptr,
         [&](FileSystem& fs, const TempFolder& t) {
             fs.ReplaceFile(path(t, u"x"), path(t, u"a"));
         }},
    };
    for (const Case& c : cases) {
        // Held past the limit, then let go at the first wait.
        for (const bool letGo : {false, true}) {
            if (letGo && !c.held) continue;
            SCOPED_TRACE(std::string(c.name) + (letGo ? ", let go" : ""));
            TempFolder temp;
            temp.Write(u"a", "a\r\n");
            temp.Write(u"b", "b\r\n");
            temp.Write(u"ro", "ro\r\n");
            temp.MakeFolder(u"dir");
            const std::u16string readOnly = temp.Path(u"ro");
            ASSERT_TRUE(SetFileAttributesW(Wide(readOnly), FILE_ATTRIBUTE_READONLY));
            HANDLE held = INVALID_HANDLE_VALUE;
            if (c.held) {
                held = CreateFileW(Wide(temp.Path(c.held)), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   0, nullptr);
                ASSERT_NE(held, INVALID_HANDLE_VALUE);
            }
            FakeClock clock;
            if (letGo)
                clock.onWait = [&] {
                    if (held != INVALID_HANDLE_VALUE)
                        CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
                };
            const auto fs = MakeSystemFileSystem(clock);

            if (letGo) {
                EXPECT_NO_THROW(c.operation(*fs, temp));
                EXPECT_EQ(clock.waits, std::vector<long long>{1});
            } else {
                EXPECT_THROW(c.operation(*fs, temp), FileError);
                if (c.held) {
                    EXPECT_EQ(std::accumulate(clock.waits.begin(), clock.waits.end(), 0LL),
                              kHeldFileLimit.count());
                } else {
                    EXPECT_TRUE(clock.waits.empty());
                }
            }
            if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
            SetFileAttributesW(Wide(readOnly), FILE_ATTRIBUTE_NORMAL);
            // No copy's temporary is left behind.
            for (const auto& entry : std::filesystem::directory_iterator(temp.Root()))
                EXPECT_EQ(entry.path().filename().string().find(".dsu."), std::string::npos)
                    << entry.path();
        }
    }
}

}  // namespace
}  // namespace dsu::platform
