// The unpacker library stand-in, bin/unzip.dll, called the way the setup
// program calls it: loaded by full path, UnZip given the archive's full path,
// the current directory the place to unpack to.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "sandbox.h"
#include "zip_builder.h"

namespace {

// The stand-in's failure codes, as its README lists them.
enum : int {
    kOk = 0,
    kCannotRead = 1,
    kCorrupt = 2,
    kUnsupported = 3,
    kUnsafeName = 4,
    kBadData = 5,
    kWriteFailed = 6,
};

const std::string kRoot = "C:\\unzip-test\\";
const std::string kOut = kRoot + "out\\";
const std::string kArchive = kRoot + "archive.zip";

std::string Fixtures() { return sandbox::BinDir() + "fixtures\\"; }

// The names and times the fixture archives were made with.
const std::vector<std::string> kFlat = {"alpha.txt", "empty.dat", "Mixed Case %1.bin"};
const std::vector<std::string> kAll = {"alpha.txt", "empty.dat", "Mixed Case %1.bin",
                                       "sub\\deeper\\beta.txt"};

FILETIME FromLocal(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME local{year, month, 0, day, hour, minute, second, 0};
    SYSTEMTIME system;
    FILETIME universal{};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &system);
    SystemTimeToFileTime(&system, &universal);
    return universal;
}

bool LastWrite(const std::string &path, FILETIME *time)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(path.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    *time = found.ftLastWriteTime;
    return true;
}

std::vector<std::string> Tree(const std::string &dir)
{
    std::vector<std::string> out;
    sandbox::ListTree(dir, "", out, false);
    return out;
}

class UnZipTest : public ::testing::Test {
  protected:
    using UnZipFn = int(WINAPI *)(const char *);

    void SetUp() override
    {
        sandbox::RemoveTree(kRoot);
        CreateDirectoryA(kRoot.c_str(), nullptr);
        CreateDirectoryA(kOut.c_str(), nullptr);
        library_ = LoadLibraryA((sandbox::BinDir() + "unzip.dll").c_str());
        ASSERT_NE(library_, nullptr);
        unzip_ = reinterpret_cast<UnZipFn>(reinterpret_cast<void (*)()>(GetProcAddress(library_, "UnZip")));
        ASSERT_NE(unzip_, nullptr);
        GetCurrentDirectoryA(MAX_PATH, saved_);
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(saved_);
        if (library_) FreeLibrary(library_);
        sandbox::RemoveTree(kRoot);
    }

    // UnZip with kOut current, as the setup program calls it.
    int Run(const std::string &archive)
    {
        SetCurrentDirectoryA(kOut.c_str());
        int result = unzip_(archive.c_str());
        SetCurrentDirectoryA(saved_);
        return result;
    }
    int RunBytes(const std::string &bytes)
    {
        sandbox::WriteTextFile(kArchive, bytes);
        return Run(kArchive);
    }
    // Nothing in kOut and nothing beside the archive in kRoot.
    void ExpectNothingWritten(const std::string &what)
    {
        EXPECT_TRUE(Tree(kOut).empty()) << what;
        EXPECT_EQ(Tree(kRoot), (std::vector<std::string>{"archive.zip", "out\\"})) << what;
    }
    void EmptyOut()
    {
        sandbox::RemoveTree(kOut);
        CreateDirectoryA(kOut.c_str(), nullptr);
    }

    HMODULE library_ = nullptr;
    UnZipFn unzip_ = nullptr;
    char saved_[MAX_PATH] = {};
};

// --- Archives of real writers ---------------------------------------------

TEST_F(UnZipTest, UnpacksWhatInfoZipAndPythonWriteWithTheirTimes)
{
    struct Case {
        const char *archive;
        const std::vector<std::string> &names;
    };
    const Case cases[] = {
        {"izip_deflate.zip", kFlat}, {"izip_stored.zip", kFlat}, {"izip_stream.zip", kFlat},
        {"py_deflate.zip", kAll},    {"py_stored.zip", kAll},    {"py_stream.zip", kAll},
    };
    FILETIME stamp = FromLocal(2001, 2, 3, 4, 5, 6);
    for (const Case &c : cases) {
        EmptyOut();
        ASSERT_EQ(Run(Fixtures() + c.archive), kOk) << c.archive;
        for (const std::string &name : c.names) {
            std::string expected = sandbox::ReadFileBytes(Fixtures() + "src\\" + name);
            EXPECT_EQ(sandbox::ReadFileBytes(kOut + name), expected) << c.archive << " " << name;
            FILETIME written{};
            ASSERT_TRUE(LastWrite(kOut + name, &written)) << c.archive << " " << name;
            EXPECT_EQ(CompareFileTime(&written, &stamp), 0) << c.archive << " " << name;
        }
        for (const std::string &line : Tree(kRoot))
            EXPECT_EQ(line.rfind("out\\", 0), 0u) << line << ": nothing lands beside the current directory";
    }
}

TEST_F(UnZipTest, DirectoryEntriesBecomeDirectories)
{
    ASSERT_EQ(Run(Fixtures() + "izip_tree.zip"), kOk);
    EXPECT_EQ(Tree(kOut), (std::vector<std::string>{"sub\\", "sub\\deeper\\", "sub\\deeper\\beta.txt"}));
    EXPECT_EQ(sandbox::ReadFileBytes(kOut + "sub\\deeper\\beta.txt"),
              sandbox::ReadFileBytes(Fixtures() + "src\\sub\\deeper\\beta.txt"));
}

TEST_F(UnZipTest, ThePayloadComesOutUnderItsStoredNames)
{
    sandbox::WriteTextFile(kOut + "vg.qd", std::string(2000000, 'x'));  // replaced, not appended to
    ASSERT_EQ(Run(Fixtures() + "payload.zip"), kOk);
    const std::pair<const char *, DWORD> files[] = {
        {"bg.qd", 27133}, {"gwg.qd", 1364}, {"mg.qd", 59577}, {"vg.qd", 950208}, {"TG.QD", 7486}};
    FILETIME stamp = FromLocal(2005, 3, 1, 10, 0, 0);
    for (const auto &file : files) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((kOut + file.first).c_str(), &found);
        ASSERT_NE(find, INVALID_HANDLE_VALUE) << file.first;
        FindClose(find);
        EXPECT_STREQ(found.cFileName, file.first) << "the stored case is kept";
        EXPECT_EQ(found.nFileSizeLow, file.second) << file.first;
        EXPECT_EQ(CompareFileTime(&found.ftLastWriteTime, &stamp), 0) << file.first;
    }
    EXPECT_EQ(Tree(kOut).size(), 5u);
}

TEST_F(UnZipTest, ReservedFlagBitDataDescriptorsAndNestedNamesAreAccepted)
{
    std::vector<ziptest::Piece> pieces(3);
    pieces[0].name = "reserved.qd";
    pieces[0].data = "local flags carry bit 15";
    pieces[0].localFlags = 0x8002;
    pieces[0].centralFlags = 0x0002;
    pieces[1].name = "after/descriptor.qd";
    pieces[1].data = "sizes follow the data";
    pieces[1].descriptor = true;
    pieces[2].name = "50% of a name with blanks.txt";
    pieces[2].data = "";
    ASSERT_EQ(RunBytes(ziptest::Build(pieces).bytes), kOk);
    EXPECT_EQ(sandbox::ReadFileBytes(kOut + "reserved.qd"), pieces[0].data);
    EXPECT_EQ(sandbox::ReadFileBytes(kOut + "after\\descriptor.qd"), pieces[1].data);
    EXPECT_TRUE(sandbox::FileExists(kOut + "50% of a name with blanks.txt"));
    FILETIME written{}, stamp = FromLocal(2003, 7, 14, 12, 30, 0);
    ASSERT_TRUE(LastWrite(kOut + "reserved.qd", &written));
    EXPECT_EQ(CompareFileTime(&written, &stamp), 0);
}

TEST_F(UnZipTest, AnEmptyArchiveUnpacksNothing)
{
    EXPECT_EQ(RunBytes(ziptest::Build({}).bytes), kOk);
    ExpectNothingWritten("empty archive");
}

// --- Refusals -----------------------------------------------------------------

TEST_F(UnZipTest, AMissingOrUnreadableArchiveFails)
{
    EXPECT_EQ(Run(kRoot + "missing.zip"), kCannotRead);
    EXPECT_EQ(Run(kOut.substr(0, kOut.size() - 1)), kCannotRead) << "a directory";
    EXPECT_EQ(unzip_(nullptr), kCannotRead);
    EXPECT_EQ(RunBytes(""), kCorrupt);
    EXPECT_EQ(RunBytes("PK\x05\x06"), kCorrupt);
    EXPECT_TRUE(Tree(kOut).empty());
}

// A name anywhere in the archive that would leave the current directory, or
// is no file name at all, refuses the whole archive before the first,
// harmless entry is written.
TEST_F(UnZipTest, UnsafeNamesRefuseTheWholeArchive)
{
    const char *const names[] = {
        "../evil.txt",
        "..\\evil.txt",
        "/abs.txt",
        "\\abs.txt",
        "C:evil.txt",
        "C:\\evil.txt",
        "sub/../../evil.txt",
        "sub/..",
        "a/./b.txt",
        "trailing.",
        "trailing ",
        "a//b.txt",
        "nul",
        "NUL.qd",
        "com1.txt",
        "lpt9",
        "what?.txt",
        "star*.txt",
        "pipe|.txt",
        "tab\t.txt",
        "file.txt:stream",
    };
    for (const char *name : names) {
        std::vector<ziptest::Piece> pieces(2);
        pieces[0].name = "harmless.txt";
        pieces[0].data = "written only when every entry is sound";
        pieces[1].name = name;
        pieces[1].data = "escaped";
        EXPECT_EQ(RunBytes(ziptest::Build(pieces).bytes), kUnsafeName) << name;
        ExpectNothingWritten(name);
    }
    EXPECT_FALSE(sandbox::FileExists("C:\\evil.txt"));
}

// One field of a sound two-entry archive damaged at a time.
TEST_F(UnZipTest, DamagedStructureIsRefusedBeforeAnythingIsWritten)
{
    std::vector<ziptest::Piece> pieces(2);
    pieces[0].name = "first.txt";
    pieces[0].data = "first entry, sound";
    pieces[1].name = "second.txt";
    pieces[1].data = "second entry, the one damaged";
    const ziptest::Layout sound = ziptest::Build(pieces);
    const size_t local = sound.local[1], central = sound.central[1], end = sound.end;

    struct Damage {
        const char *what;
        int expected;
        void (*apply)(std::string &, size_t local, size_t central, size_t end);
    };
    const Damage damages[] = {
        {"encrypted in the central directory", kUnsupported,
         [](std::string &b, size_t, size_t c, size_t) { ziptest::Put16(b, c + 8, 1); }},
        {"encrypted in the local header", kUnsupported,
         [](std::string &b, size_t l, size_t, size_t) { ziptest::Put16(b, l + 6, 1); }},
        {"strong encryption", kUnsupported,
         [](std::string &b, size_t, size_t c, size_t) { ziptest::Put16(b, c + 8, 0x41); }},
        {"method 12 (bzip2)", kUnsupported,
         [](std::string &b, size_t l, size_t c, size_t) {
             ziptest::Put16(b, c + 10, 12), ziptest::Put16(b, l + 8, 12);
         }},
        {"methods disagree", kCorrupt,
         [](std::string &b, size_t l, size_t, size_t) { ziptest::Put16(b, l + 8, 8); }},
        {"CRC wrong in both headers", kBadData,
         [](std::string &b, size_t l, size_t c, size_t) {
             ziptest::Put32(b, c + 16, 1), ziptest::Put32(b, l + 14, 1);
         }},
        {"CRC disagrees between headers", kCorrupt,
         [](std::string &b, size_t l, size_t, size_t) { ziptest::Put32(b, l + 14, 1); }},
        {"stored sizes disagree", kCorrupt,
         [](std::string &b, size_t, size_t c, size_t) { ziptest::Put32(b, c + 24, 5); }},
        {"size beyond the data", kCorrupt,
         [](std::string &b, size_t l, size_t c, size_t) {
             for (size_t at : {c + 20, c + 24})
                 ziptest::Put32(b, at, 100000);
             for (size_t at : {l + 18, l + 22})
                 ziptest::Put32(b, at, 100000);
         }},
        {"local signature", kCorrupt, [](std::string &b, size_t l, size_t, size_t) { b[l] = 'Q'; }},
        {"local name differs", kCorrupt, [](std::string &b, size_t l, size_t, size_t) { b[l + 30] = 'S'; }},
        {"local name length", kCorrupt,
         [](std::string &b, size_t l, size_t, size_t) { ziptest::Put16(b, l + 26, 0xFFFF); }},
        {"local offset in the directory", kCorrupt,
         [](std::string &b, size_t, size_t c, size_t) {
             ziptest::Put32(b, c + 42, static_cast<uint32_t>(c));
         }},
        {"local offset past the end", kCorrupt,
         [](std::string &b, size_t, size_t c, size_t) { ziptest::Put32(b, c + 42, 0xFFFFFF00); }},
        {"central signature", kCorrupt, [](std::string &b, size_t, size_t c, size_t) { b[c] = 'Q'; }},
        {"central name length", kCorrupt,
         [](std::string &b, size_t, size_t c, size_t) { ziptest::Put16(b, c + 28, 0xFFFF); }},
        {"starts on another disk", kUnsupported,
         [](std::string &b, size_t, size_t c, size_t) { ziptest::Put16(b, c + 34, 1); }},
        {"ZIP64 sizes", kUnsupported,
         [](std::string &b, size_t, size_t c, size_t) { ziptest::Put32(b, c + 20, 0xFFFFFFFF); }},
        {"more entries counted", kCorrupt,
         [](std::string &b, size_t, size_t, size_t e) {
             ziptest::Put16(b, e + 8, 3), ziptest::Put16(b, e + 10, 3);
         }},
        {"fewer entries counted", kCorrupt,
         [](std::string &b, size_t, size_t, size_t e) {
             ziptest::Put16(b, e + 8, 1), ziptest::Put16(b, e + 10, 1);
         }},
        {"directory size too large", kCorrupt,
         [](std::string &b, size_t, size_t, size_t e) { ziptest::Put32(b, e + 12, 0xFFFFFF); }},
        {"directory offset past the end", kCorrupt,
         [](std::string &b, size_t, size_t, size_t e) { ziptest::Put32(b, e + 16, 0xFFFFFFF0); }},
        {"comment longer than the file", kCorrupt,
         [](std::string &b, size_t, size_t, size_t e) { ziptest::Put16(b, e + 20, 40); }},
        {"spanned", kUnsupported,
         [](std::string &b, size_t, size_t, size_t e) { ziptest::Put16(b, e + 4, 1); }},
    };
    for (const Damage &damage : damages) {
        std::string bytes = sound.bytes;
        damage.apply(bytes, local, central, end);
        EXPECT_EQ(RunBytes(bytes), damage.expected) << damage.what;
        ExpectNothingWritten(damage.what);
    }

    std::string zip64 = sound.bytes.substr(0, sound.end);
    zip64 += std::string("PK\x06\x07", 4) + std::string(16, '\0') + sound.bytes.substr(sound.end);
    EXPECT_EQ(RunBytes(zip64), kUnsupported) << "ZIP64 locator";
}

TEST_F(UnZipTest, EntriesSharingTheirDataAreRefused)
{
    std::vector<ziptest::Piece> pieces(2);
    pieces[0].name = "bomb.txt";
    pieces[0].data = std::string(1000, 'b');
    pieces[1].sharesDataOf = 0;
    EXPECT_EQ(RunBytes(ziptest::Build(pieces).bytes), kCorrupt);
    ExpectNothingWritten("shared data");
}

TEST_F(UnZipTest, EveryTruncationFailsAndWritesNothing)
{
    for (const char *fixture : {"py_deflate.zip", "izip_stream.zip"}) {
        std::string whole = sandbox::ReadFileBytes(Fixtures() + fixture);
        ASSERT_GT(whole.size(), 1000u);
        for (size_t length = 0; length < whole.size(); length += (whole.size() - length > 400 ? 53 : 1)) {
            ASSERT_NE(RunBytes(whole.substr(0, length)), kOk) << fixture << " cut to " << length;
            EXPECT_TRUE(Tree(kOut).empty()) << fixture << " cut to " << length;
        }
    }
}

// Flipped bytes anywhere: either the archive still unpacks to exactly the
// files it was made from (a flip in a field nobody checks, like a time), or
// it is refused and nothing is written. Never a crash, never a hang.
TEST_F(UnZipTest, FlippedBytesNeverYieldWrongFiles)
{
    std::string whole = sandbox::ReadFileBytes(Fixtures() + "izip_deflate.zip");
    ASSERT_FALSE(whole.empty());
    uint32_t state = 12345;
    int refused = 0;
    for (int round = 0; round < 400; ++round) {
        state = state * 1103515245 + 12345;
        size_t at = (state >> 8) % whole.size();
        state = state * 1103515245 + 12345;
        char mask = static_cast<char>(1 + (state >> 16) % 255);
        std::string bytes = whole;
        bytes[at] ^= mask;
        EmptyOut();
        int result = RunBytes(bytes);
        if (result == kOk) {
            for (const std::string &name : kFlat)
                EXPECT_EQ(sandbox::ReadFileBytes(kOut + name),
                          sandbox::ReadFileBytes(Fixtures() + "src\\" + name))
                    << "flip at " << at;
        } else {
            ++refused;
            ExpectNothingWritten("flip at " + std::to_string(at));
        }
    }
    EXPECT_GT(refused, 300) << "most flips land in checked data";
}

TEST_F(UnZipTest, AnEntryThatCannotBeWrittenFailsTheCall)
{
    CreateDirectoryA((kOut + "alpha.txt").c_str(), nullptr);  // a directory where a file goes
    EXPECT_EQ(Run(Fixtures() + "izip_deflate.zip"), kWriteFailed);
}

}  // namespace
