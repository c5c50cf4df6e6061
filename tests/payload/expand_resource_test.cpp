// ExpandResource in-process: the payload resource is taken from the built
// setup.exe, loaded as a data file and made the program's instance, and
// unpacked by the unzip.dll (or one of its test doubles) in the sandbox
// product directory.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "context/install_context.h"
#include "payload/crc32.h"
#include "payload/expand_resource.h"
#include "sandbox.h"
#include "support/text.h"
#include "testbed.h"

namespace {

std::string Fixtures() { return sandbox::BinDir() + "fixtures\\"; }

std::string CurrentDirectory()
{
    char buffer[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, buffer);
    return buffer;
}

std::string WithoutBackslash(std::string path)
{
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

class ExpandResourceTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        saved_ = CurrentDirectory();
        sandbox::Provision();
        ResetInstallContext();
        CopyText(Install().ProductDir, kPathCapacity, sandbox::kProductDir);
        CopyText(Install().DictionaryDir, kPathCapacity, sandbox::kDictionaryDir);
        CopyText(Install().WorkDir, kPathCapacity, sandbox::WorkDir().c_str());
        CreateDirectoryA(sandbox::WorkDir().c_str(), nullptr);
        archive_ = sandbox::WorkDir() + "quorin.zip";

        setup_ = LoadLibraryExA((sandbox::BinDir() + "setup.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(setup_, nullptr);
        savedInstance_ = Handles().Instance;
        Handles().Instance = setup_;
    }
    void TearDown() override
    {
        Handles().Instance = savedInstance_;
        if (setup_) FreeLibrary(setup_);
        SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RESULT", nullptr);
        SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RECORD", nullptr);
        SetCurrentDirectoryA(saved_.c_str());
        sandbox::Clean();
    }

    bool Expand()
    {
        char path[kPathCapacity];
        CopyText(path, sizeof path, archive_.c_str());
        bool result = ExpandResource(102, "ZIP", path);
        EXPECT_EQ(std::string(path), archive_) << "the path is handed back unchanged";
        return result;
    }
    std::string ResourceBytes()
    {
        HRSRC found = FindResourceA(setup_, MAKEINTRESOURCEA(102), "ZIP");
        if (found == nullptr) return {};
        const char *bytes = static_cast<const char *>(LockResource(LoadResource(setup_, found)));
        return std::string(bytes, SizeofResource(setup_, found));
    }
    void UseLibrary(const char *fixture)
    {
        std::string target = std::string(sandbox::kProductDir) + "unzip.dll";
        ASSERT_TRUE(CopyFileA((Fixtures() + fixture).c_str(), target.c_str(), FALSE)) << fixture;
    }
    void ExpectLeftWorkDir() { EXPECT_EQ(CurrentDirectory(), WithoutBackslash(sandbox::kProductDir)); }

    std::string saved_;
    std::string archive_;
    HMODULE setup_ = nullptr;
    HINSTANCE savedInstance_ = nullptr;
};

TEST_F(ExpandResourceTest, ReplacesAnOlderArchiveAndUnpacksThePayload)
{
    sandbox::WriteTextFile(archive_, std::string(3000000, 'z'));
    ASSERT_TRUE(Expand());
    std::string resource = ResourceBytes();
    ASSERT_FALSE(resource.empty());
    EXPECT_TRUE(sandbox::ReadFileBytes(archive_) == resource) << "exactly the resource's length and bytes";
    const std::pair<const char *, size_t> files[] = {
        {"bg.qd", 27133}, {"gwg.qd", 1364}, {"mg.qd", 59577}, {"vg.qd", 950208}, {"TG.QD", 7486}};
    for (const auto &file : files) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((sandbox::WorkDir() + file.first).c_str(), &found);
        ASSERT_NE(find, INVALID_HANDLE_VALUE) << file.first;
        FindClose(find);
        EXPECT_STREQ(found.cFileName, file.first);
        EXPECT_EQ(found.nFileSizeLow, file.second) << file.first;
    }
    ExpectLeftWorkDir();
}

TEST_F(ExpandResourceTest, AProgramWithoutTheResourceCreatesNothing)
{
    Handles().Instance = GetModuleHandleA(nullptr);  // this test program
    std::string before = CurrentDirectory();
    EXPECT_FALSE(Expand());
    EXPECT_FALSE(sandbox::FileExists(archive_));
    EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(ExpandResourceTest, AnArchiveThatCannotBeCreatedFails)
{
    std::string before = CurrentDirectory();
    archive_ = sandbox::WorkDir() + "missing\\quorin.zip";
    EXPECT_FALSE(Expand());
    EXPECT_FALSE(sandbox::FileExists(archive_));

    // Held open without sharing by someone else.
    archive_ = sandbox::WorkDir() + "quorin.zip";
    sandbox::WriteTextFile(archive_, "held");
    HANDLE held = CreateFileA(archive_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Expand());
    CloseHandle(held);
    EXPECT_EQ(sandbox::ReadFileBytes(archive_), "held");
    EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(ExpandResourceTest, WithoutTheLibraryTheArchiveIsWrittenAndTheWorkDirLeft)
{
    DeleteFileA((std::string(sandbox::kProductDir) + "unzip.dll").c_str());
    EXPECT_FALSE(Expand());
    EXPECT_EQ(sandbox::ReadFileBytes(archive_).size(), ResourceBytes().size());
    ExpectLeftWorkDir();
}

TEST_F(ExpandResourceTest, ALibraryWithoutTheExportFails)
{
    UseLibrary("noexport_unzip.dll");
    EXPECT_FALSE(Expand());
    ExpectLeftWorkDir();
}

// UnZip runs with the work directory current and the archive's full path;
// only its result 0 counts as success.
TEST_F(ExpandResourceTest, OnlyAResultOfZeroCounts)
{
    UseLibrary("fake_unzip.dll");
    SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RECORD", "1");
    const std::pair<const char *, bool> results[] = {{"0", true}, {"1", false}, {"-1", false}, {"2", false}};
    for (const auto &result : results) {
        DeleteFileA((sandbox::WorkDir() + "fake-unzip.txt").c_str());
        SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RESULT", result.first);
        EXPECT_EQ(Expand(), result.second) << "UnZip returned " << result.first;
        EXPECT_EQ(sandbox::ReadFileBytes(sandbox::WorkDir() + "fake-unzip.txt"), archive_)
            << "called in the work directory with the archive's full path";
        ExpectLeftWorkDir();
    }
}

// A product at a drive's root: "C:" alone would name the drive's current
// directory, which is the work directory itself.
TEST_F(ExpandResourceTest, AProductAtADriveRootStillLeavesTheWorkDir)
{
    CopyText(Install().ProductDir, kPathCapacity, "C:\\");
    EXPECT_FALSE(Expand()) << "no unzip.dll at C:\\";
    EXPECT_EQ(CurrentDirectory(), "C:\\");
}

}  // namespace

namespace {

// The product's UnZip, called through the program's own pointer type, must
// leave the stack as it found it; a 32-bit convention slip shows nowhere else.
TEST_F(ExpandResourceTest, UnZipIsCalledWithItsOwnConvention)
{
    HMODULE library = LoadLibraryA((std::string(sandbox::kProductDir) + "unzip.dll").c_str());
    ASSERT_NE(library, nullptr);
    auto unzip = reinterpret_cast<UnZipFn>(reinterpret_cast<void (*)()>(GetProcAddress(library, "UnZip")));
    ASSERT_NE(unzip, nullptr);
    EXPECT_EQ(testbed::StackDrift(unzip, "C:\\no-such-archive.zip"), 0);
    FreeLibrary(library);
}

}  // namespace

namespace {

// The sliced CRC against the bit-at-a-time definition, at every length that
// ends in each place of an eight-byte step and from every alignment; the
// check value of "123456789" pins the polynomial the builder records.
TEST(Crc32, MatchesTheBitwiseDefinition)
{
    auto bitwise = [](const unsigned char *p, size_t n) {
        uint32_t c = ~0u;
        while (n-- > 0) {
            c ^= *p++;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        return ~c;
    };
    unsigned char bytes[64];
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 11);
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t length = 0; offset + length <= sizeof bytes; ++length)
            ASSERT_EQ(Crc32(bytes + offset, length), bitwise(bytes + offset, length)) << offset << " " << length;
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
}

}  // namespace
