#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/text.h"
#include "platform/work_pool.h"
#include "tests/support/temp_folder.h"
#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dsu::platform {
namespace {

using testing::TempFolder;

std::size_t OpenHandles() {
#ifdef _WIN32
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
#else
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
#endif
}

#ifndef _WIN32
// Runs `call` with no descriptor left to open: the limit is the lowest free one.
void WithoutDescriptors(const std::function<void()>& call) {
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit none = old;
    none.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    struct Restore {
        rlimit limit;
        ~Restore() { ::setrlimit(RLIMIT_NOFILE, &limit); }
    } restore{old};
    call();
}
#endif

// Names other than its own that reach the folder `relative` below `temp`:
// another letter case; on Linux a link; on Windows its short name and,
// under Wine, its path through another drive, the one that maps the host's
// root (as subst gives a folder a drive of its own).
std::vector<std::u16string> OtherNamesOf(const TempFolder& temp, std::u16string_view relative) {
    std::u16string upper(relative);
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    std::vector<std::u16string> names = {temp.Path(upper)};
#ifdef _WIN32
    const std::u16string path = temp.Path(relative);
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetShortPathNameW(Wide(path), buffer, MAX_PATH);
    EXPECT_TRUE(n > 0 && n < MAX_PATH);
    names.push_back(FromWide(buffer, n));
    EXPECT_NE(names.back(), path) << "no short name";
    using UnixName = char*(CDECL*)(const wchar_t*);
    if (const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")))) {
        if (char* host = unixName(Wide(path))) {
            std::u16string z = u"Z:" + FromUtf8(host);
            for (char16_t& c : z)
                if (c == u'/') c = u'\\';
            names.push_back(z);
            HeapFree(GetProcessHeap(), 0, host);
        }
    }
#else
    std::filesystem::create_directory_symlink(temp.Host(relative),
                                              temp.Host(std::u16string(relative) + u"-link"));
    names.push_back(temp.Path(std::u16string(relative) + u"-link"));
#endif
    return names;
}

// Every case runs twice: with paths walked from the root, and from the test's
// folder held open, as a listing of its subfolders holds it.
class Files : public ::testing::TestWithParam<bool> {
  protected:
    TempFolder temp;
    std::unique_ptr<FileSystem> fs = MakeSystemFileSystem();
    const bool held = GetParam() && (fs->ListSubfolders(temp.Path()), true);

    std::vector<std::string> Lines(std::u16string_view relative) {
        auto reader = fs->TryOpenReader(temp.Path(relative));
        std::vector<std::string> lines;
        if (!reader) {
            ADD_FAILURE() << "no file to read";
            return lines;
        }
        std::string line;
        while (!reader->AtEnd()) {
            EXPECT_TRUE(reader->ReadLinePart(line, std::string::npos));
            lines.push_back(line);
        }
        EXPECT_THROW(reader->ReadLinePart(line, 1), FileError);
        reader->Close();
        return lines;
    }
};

TEST_P(Files, ReaderEndsLinesAtCarriageReturnsOnly) {
    using Lines_ = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string bytes;
        Lines_ lines;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"crlf", "1.3\r\nref\r\n", {"1.3", "ref"}},
        {"no end on last line", "1.3\r\nref", {"1.3", "ref"}},
        {"cr alone", "a\rb\r", {"a", "b"}},
        {"lf alone is a character", "1.3\nref\n", {"1.3\nref\n"}},
        {"empty lines", "\r\n\r\n", {"", ""}},
        {"lf after lf after cr", "a\r\n\nb", {"a", "\nb"}},
        {"nul and high bytes", std::string("a\0\xff\x80\r\n", 6), {std::string("a\0\xff\x80", 4)}},
        {"lone cr at end", "x\r", {"x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        temp.Write(u"f.txt", c.bytes);
        EXPECT_EQ(Lines(u"f.txt"), c.lines);
    }
}

TEST_P(Files, ReaderFindsLineEndsAcrossItsBuffer) {
    // Lines that straddle the reader's 64 KiB buffer, a CR LF split by it included.
    std::string bytes(65535, 'x');
    bytes += "\r\nsecond\r";
    bytes += std::string(70000, 'y');
    temp.Write(u"big.txt", bytes);
    const auto lines = Lines(u"big.txt");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 65535u);
    EXPECT_EQ(lines[1], "second");
    EXPECT_EQ(lines[2].size(), 70000u);
}

TEST_P(Files, WriterEndsEveryLineInCrLf) {
    auto writer = fs->CreateWriter(temp.Path(u"out.txt"), Existing::Keep);
    writer->WriteLine("1.5");
    writer->WriteLine(std::string("\0\xff", 2));
    writer->WriteLine("");
    writer->Flush();
    writer->Close();
    EXPECT_EQ(temp.Read(u"out.txt"), std::string("1.5\r\n\0\xff\r\n\r\n", 11));

    // An existing file is left as it is, or replaced by a new one.
    EXPECT_THROW(fs->CreateWriter(temp.Path(u"out.txt"), Existing::Keep), FileError);
    EXPECT_EQ(temp.Read(u"out.txt"), std::string("1.5\r\n\0\xff\r\n\r\n", 11));
    auto again = fs->CreateWriter(temp.Path(u"out.txt"), Existing::Replace);
    again->Write("x");
    again->WriteLine("y");
    again->Close();
    EXPECT_EQ(temp.Read(u"out.txt"), "xy\r\n");
#ifndef _WIN32
    // A link in the way is removed, never written through.
    temp.Write(u"outside", "the player's");
    std::filesystem::create_symlink(temp.Host(u"outside"), temp.Host(u"link"));
    EXPECT_THROW(fs->CreateWriter(temp.Path(u"link"), Existing::Keep), FileError);
    fs->CreateWriter(temp.Path(u"link"), Existing::Replace)->Close();
    EXPECT_FALSE(std::filesystem::is_symlink(temp.Host(u"link")));
    EXPECT_EQ(temp.Read(u"outside"), "the player's");
#endif
}

TEST_P(Files, ListingsGiveEachEntryOnceInOneOrder) {
    for (auto name : {u"b", u"A", u"c", u"a_b"}) temp.MakeFolder(std::u16string(u"root/") + name);
    temp.Write(u"root/z.txt", "z");
    temp.Write(u"root/Y.txt", "y");
    temp.Write(u"root/A/inner.txt", "deeper");
    const std::u16string root = temp.Path(u"root");

    const std::vector<std::u16string> folders = {root + u"\\A", root + u"\\a_b", root + u"\\b",
                                                 root + u"\\c"};
    EXPECT_EQ(fs->ListSubfolders(root), folders);
    EXPECT_EQ(fs->ListSubfolders(root + u"\\"), folders);
    const std::vector<std::u16string> files = {u"Y.txt", u"z.txt"};
    EXPECT_EQ(fs->ListFiles(root), files);
    EXPECT_TRUE(fs->ListSubfolders(root + u"\\c").empty());
    EXPECT_THROW(fs->ListSubfolders(root + u"\\missing"), FileError);
    EXPECT_THROW(fs->ListFiles(root + u"\\z.txt"), FileError);
}

TEST_P(Files, NamesMatchWithoutRegardToLetterCase) {
    temp.Write(u"World/Dispatcher/Downloads/Pack/Config.TXT", "kuid <kuid:1:2>\r\n");
    EXPECT_EQ(fs->ListSubfolders(temp.Path(u"World\\dispatcher\\downloads")),
              std::vector<std::u16string>{temp.Path(u"World\\dispatcher\\downloads\\Pack")});
    EXPECT_NE(fs->TryOpenReader(temp.Path(u"WORLD\\DISPATCHER\\DOWNLOADS\\PACK\\CONFIG.TXT")),
              nullptr);

    // Writing under another case reaches the existing file, as on Windows.
    auto writer = fs->CreateWriter(temp.Path(u"world\\dispatcher\\downloads\\PACK\\config.txt"),
                                   Existing::Replace);
    writer->WriteLine("x");
    writer->Close();
    EXPECT_EQ(temp.Read(u"World/Dispatcher/Downloads/Pack/Config.TXT"), "x\r\n");
}

TEST_P(Files, OnlyAFileOpensForReading) {
    temp.MakeFolder(u"skin.dat");
    temp.Write(u"file", "");
    EXPECT_EQ(fs->TryOpenReader(temp.Path(u"skin.dat")), nullptr);
    EXPECT_EQ(fs->TryOpenReader(temp.Path(u"missing")), nullptr);
    EXPECT_EQ(fs->TryOpenReader(temp.Path(u"missing\\deeper")), nullptr);
    EXPECT_NE(fs->TryOpenReader(temp.Path(u"file")), nullptr);
}

TEST_P(Files, ReplacePutsOneFileInThePlaceOfAnother) {
    const std::size_t handles = OpenHandles();
    temp.Write(u"fresh", "new");
    temp.Write(u"to", "old");
    fs->ReplaceFile(temp.Path(u"fresh"), temp.Path(u"to"));
    EXPECT_FALSE(temp.Exists(u"fresh"));
    EXPECT_EQ(temp.Read(u"to"), "new");
    EXPECT_THROW(fs->ReplaceFile(temp.Path(u"fresh"), temp.Path(u"to")), FileError);
    EXPECT_EQ(temp.Read(u"to"), "new");

    // The old files that replaces may keep open stay within their bound,
    // and the flushes of the replaces free them.
    constexpr std::size_t kMany = 600;
    for (std::size_t i = 0; i < kMany; ++i) {
        temp.Write(u"fresh", std::to_string(i));
        fs->ReplaceFile(temp.Path(u"fresh"), temp.Path(u"to"));
    }
    EXPECT_LE(OpenHandles(), handles + kDescriptorsAhead);
    for (std::size_t i = 0; i < kMany; ++i) fs->FlushReplace(temp.Path(u"to"));
    EXPECT_EQ(OpenHandles(), handles);
    EXPECT_EQ(temp.Read(u"to"), std::to_string(kMany - 1));
}

TEST_P(Files, FolderCopyAndDeleteOperations) {
    temp.Write(u"src", std::string("a\0b", 3));
    temp.Write(u"dst", "older and longer");
    // A file of the player's under a name a copy's temporary once had stays.
    temp.Write(u"dst.dsu-copy", "the player's");
    fs->CopyFile(temp.Path(u"src"), temp.Path(u"dst"));
    EXPECT_EQ(temp.Read(u"dst"), std::string("a\0b", 3));
    EXPECT_THROW(fs->CopyFile(temp.Path(u"missing"), temp.Path(u"dst")), FileError);
    EXPECT_EQ(fs->ListFiles(temp.Path()),
              (std::vector<std::u16string>{u"dst", u"dst.dsu-copy", u"src"}));
    EXPECT_EQ(temp.Read(u"dst.dsu-copy"), "the player's");

    fs->MakeFolder(temp.Path(u"made"));
    EXPECT_THROW(fs->MakeFolder(temp.Path(u"made")), FileError);
    EXPECT_THROW(fs->MakeFolder(temp.Path(u"no\\parent")), FileError);

    fs->DeleteFile(temp.Path(u"src"));
    EXPECT_FALSE(temp.Exists(u"src"));
    EXPECT_THROW(fs->DeleteFile(temp.Path(u"src")), FileError);

    // A folder claimed by one is refused to another, under each name that
    // reaches it, until the claim is let go.
    auto second = MakeSystemFileSystem();
    auto claim = fs->ClaimFolder(temp.Path(u"made"));
    EXPECT_NE(claim, nullptr);
    for (const std::u16string& other : OtherNamesOf(temp, u"made")) {
        SCOPED_TRACE(ToUtf8(other));
        EXPECT_EQ(second->ClaimFolder(other), nullptr);
    }
    claim.reset();
    EXPECT_NE(second->ClaimFolder(temp.Path(u"made")), nullptr);
}

TEST_P(Files, FailuresNameTheOperationPathAndReason) {
    const std::u16string path = temp.Path(u"missing\\skin.dat");
    try {
        fs->CreateWriter(path, Existing::Replace);
        FAIL() << "created a file in a missing folder";
    } catch (const FileError& e) {
        const std::u16string& text = e.Message();
        EXPECT_EQ(text.rfind(u"Could not create " + path + u": ", 0), 0u);
        EXPECT_GT(text.size(), (u"Could not create " + path + u": ").size() + 2);
        EXPECT_EQ(text.back(), u'.');
    }
}

// Each failure carries the system's own code for it.
TEST_P(Files, FailuresCarryTheSystemsCode) {
    temp.Write(u"held", "x");
    temp.Write(u"read-only", "x");
    struct Case {
        const char* name;
        std::function<void()> operation;
        unsigned long code;
    };
    std::vector<Case> cases = {
#ifdef _WIN32
        {"created in a missing folder",
         [&] { fs->CreateWriter(temp.Path(u"missing\\skin.dat"), Existing::Replace); },
         ERROR_PATH_NOT_FOUND},
        {"created anew where a file is",
         [&] { fs->CreateWriter(temp.Path(u"held"), Existing::Keep); }, ERROR_FILE_EXISTS},
        {"opened while held without sharing", [&] { fs->TryOpenReader(temp.Path(u"held")); },
         ERROR_SHARING_VIOLATION},
        {"deleted while read-only", [&] { fs->DeleteFile(temp.Path(u"read-only")); },
         ERROR_ACCESS_DENIED},
#else
        {"created in a missing folder",
         [&] { fs->CreateWriter(temp.Path(u"missing\\skin.dat"), Existing::Replace); }, ENOENT},
        {"created anew where a file is",
         [&] { fs->CreateWriter(temp.Path(u"held"), Existing::Keep); }, EEXIST},
        // Never opened, so never waited on.
        {"created where a FIFO is",
         [&] { fs->CreateWriter(temp.Path(u"fifo"), Existing::Replace); }, ENXIO},
        {"listed as a folder", [&] { fs->ListFiles(temp.Path(u"held")); }, ENOTDIR},
        // A folder that cannot be looked in is not taken for one without the
        // name: SKIN.DAT is not missed, and no skin.dat is made beside it.
        {"replaced onto another case with no descriptor left",
         [&] {
             // Once with descriptors to spare first: the sanitizers' checks of
             // these calls are then known and need none of their own. Its
             // flush frees the old file the replace keeps.
             fs->ReplaceFile(temp.Path(u"warm"), temp.Path(u"warmed"));
             fs->FlushReplace(temp.Path(u"warmed"));
             WithoutDescriptors(
                 [&] { fs->ReplaceFile(temp.Path(u"fresh"), temp.Path(u"skin.dat")); });
         },
         EMFILE},
#endif
    };
#ifdef _WIN32
    HANDLE held = CreateFileW(Wide(temp.Path(u"held")), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileAttributesW(Wide(temp.Path(u"read-only")), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(::mkfifo(temp.Host(u"fifo").c_str(), 0666), 0);
    temp.Write(u"SKIN.DAT", "old");
    temp.Write(u"fresh", "new");
    temp.Write(u"WARMED", "old");
    temp.Write(u"warm", "new");
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.operation();
            ADD_FAILURE() << "did not fail";
        } catch (const FileError& e) {
            EXPECT_EQ(e.Code(), c.code) << ToUtf8(e.Message());
        }
    }
#ifdef _WIN32
    CloseHandle(held);
    SetFileAttributesW(Wide(temp.Path(u"read-only")), FILE_ATTRIBUTE_NORMAL);
#else
    EXPECT_EQ(temp.Read(u"SKIN.DAT"), "old");
    EXPECT_FALSE(std::filesystem::exists(temp.Host(u"skin.dat")));
#endif
}

TEST_P(Files, NamesOutsideTheCodePageAndLongPathsWork) {
    const std::u16string name = u"\u041a\u043e\u0440\u0432\u0430\u0448 \U0001F682";
    std::u16string deep = name;
    while (deep.size() < 300) deep += u"\\" + std::u16string(40, u'd');
    temp.MakeFolder(deep);
    fs->MakeFolder(temp.Path(deep + u"\\made"));
    auto writer = fs->CreateWriter(temp.Path(deep + u"\\made\\skin.dat"), Existing::Keep);
    writer->WriteLine("1.3");
    writer->Close();
    EXPECT_NE(fs->TryOpenReader(temp.Path(deep + u"\\made\\skin.dat")), nullptr);
    EXPECT_EQ(fs->ListSubfolders(temp.Path(deep)),
              std::vector<std::u16string>{temp.Path(deep + u"\\made")});
    EXPECT_EQ(fs->ListSubfolders(temp.Path()), std::vector<std::u16string>{temp.Path(name)});
}

// A listed folder is held and reached through its handle, even when it has
// moved, under the name it was listed by, which may differ from its own in
// letter case; but only until the event ends, or the next listing of
// subfolders, which each find their folders by name.
TEST_P(Files, AListedFolderIsReachedWhereverItMoved) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows holds no folders";
#endif
    temp.Write(u"before/skin.dat", "1.3\r\n");
    const std::u16string before = temp.Path(u"BEFORE");
    fs->ListSubfolders(before);
    std::filesystem::rename(temp.Host(u"before"), temp.Host(u"after"));
    EXPECT_NE(fs->TryOpenReader(before + u"\\SKIN.DAT"), nullptr);
    auto writer = fs->CreateWriter(before + u"\\skin.dat.tmp", Existing::Keep);
    writer->WriteLine("1.5");
    writer->Close();
    fs->ReplaceFile(before + u"\\skin.dat.tmp", before + u"\\skin.dat");
    fs->FlushReplace(before + u"\\skin.dat");
    EXPECT_EQ(temp.Read(u"after/skin.dat"), "1.5\r\n");

    // Copied back under its name: the copy is what the name reaches next.
    temp.Write(u"before/skin.dat", "copied back");
    fs->ReleaseHeldFolders();
    EXPECT_EQ(Lines(u"BEFORE\\skin.dat"), std::vector<std::string>{"copied back"});
    fs->ListSubfolders(before);
    std::filesystem::rename(temp.Host(u"before"), temp.Host(u"again"));
    temp.Write(u"before/skin.dat", "the newest");
    EXPECT_EQ(fs->ListSubfolders(before), std::vector<std::u16string>{});
    EXPECT_EQ(Lines(u"BEFORE\\skin.dat"), std::vector<std::string>{"the newest"});
}

INSTANTIATE_TEST_SUITE_P(, Files, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Held" : "Walked"; });

}  // namespace
}  // namespace dsu::platform
