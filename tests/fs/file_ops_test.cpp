// The path probe and the small file operations, against the real file
// system of the prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "sandbox.h"
#include "testbed.h"

namespace {

const std::string kScratch = "C:\\fs-test\\";

class FileOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox::RemoveTree(kScratch);
        CreateDirectoryA(kScratch.c_str(), nullptr);
    }
    void TearDown() override { sandbox::RemoveTree(kScratch); }

    static std::string Make(const std::string &name, const std::string &content)
    {
        std::string path = kScratch + name;
        sandbox::WriteTextFile(path, content);
        return path;
    }
    static void SetTime(const std::string &path, int hour)
    {
        SYSTEMTIME system{2020, 1, 0, 1, static_cast<WORD>(hour), 0, 0, 0};
        FILETIME time;
        SystemTimeToFileTime(&system, &time);
        HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
    }
};

TEST_F(FileOps, ProbeTellsMissingDirectoryAndFileSize)
{
    EXPECT_EQ(ProbePath(""), -1);
    EXPECT_EQ(ProbePath((kScratch + "nothing").c_str()), -1);
    EXPECT_EQ(ProbePath(kScratch.c_str()), -2);  // one trailing backslash is dropped
    EXPECT_EQ(ProbePath("C:\\fs-test"), -2);
    EXPECT_EQ(ProbePath("C:\\fs-test\\\\"), -1);  // two: the search keeps one and fails
    EXPECT_EQ(ProbePath(Make("five.txt", "12345").c_str()), 5);
    EXPECT_EQ(ProbePath(Make("empty.txt", "").c_str()), 0);
}

TEST_F(FileOps, ProbeRefusesPathsOf260CharactersEvenWhenTheyExist)
{
    std::string fits = Make(std::string(259 - kScratch.size(), 'a'), "1");
    ASSERT_EQ(fits.size(), 259u);
    EXPECT_EQ(ProbePath(fits.c_str()), 1);
    std::string tooLong = Make(std::string(260 - kScratch.size(), 'b'), "1");
    ASSERT_TRUE(sandbox::FileExists(tooLong));
    EXPECT_EQ(ProbePath(tooLong.c_str()), -1);
}

TEST_F(FileOps, RemoveFileClearsReadOnlyAndLeavesEmptyFiles)
{
    std::string locked = Make("locked.qd", "data");
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(RemoveFile(locked.c_str()));
    EXPECT_FALSE(sandbox::FileExists(locked));

    std::string empty = Make("empty.qd", "");
    EXPECT_FALSE(RemoveFile(empty.c_str()));
    EXPECT_TRUE(sandbox::FileExists(empty));
    EXPECT_FALSE(RemoveFile(kScratch.c_str()));
    EXPECT_FALSE(RemoveFile((kScratch + "missing").c_str()));
}

TEST_F(FileOps, RemoveFilesDeletesNonEmptyFilesAndLeavesSubdirectories)
{
    Make("a.qd", "a");
    Make("b.zip", "b");
    Make("empty", "");
    CreateDirectoryA((kScratch + "sub").c_str(), nullptr);
    Make("sub\\inner.qd", "inner");
    RemoveFiles((kScratch + "*.*").c_str());
    EXPECT_FALSE(sandbox::FileExists(kScratch + "a.qd"));
    EXPECT_FALSE(sandbox::FileExists(kScratch + "b.zip"));
    EXPECT_TRUE(sandbox::FileExists(kScratch + "empty"));
    EXPECT_TRUE(sandbox::FileExists(kScratch + "sub\\inner.qd"));
}

TEST_F(FileOps, CopyNotNeededComparesLastWriteTimes)
{
    std::string source = Make("source.qd", "new");
    std::string target = Make("target.qd", "old");
    std::string empty = Make("empty.qd", "");
    std::string missing = kScratch + "missing.qd";

    EXPECT_TRUE(CopyNotNeeded(missing.c_str(), target.c_str()));
    EXPECT_TRUE(CopyNotNeeded(empty.c_str(), target.c_str()));
    EXPECT_TRUE(CopyNotNeeded(kScratch.c_str(), target.c_str()));
    EXPECT_FALSE(CopyNotNeeded(source.c_str(), missing.c_str()));
    EXPECT_FALSE(CopyNotNeeded(source.c_str(), empty.c_str()));

    SetTime(source, 10);
    SetTime(target, 10);
    EXPECT_FALSE(CopyNotNeeded(source.c_str(), target.c_str())) << "equal times copy again";
    SetTime(target, 11);
    EXPECT_TRUE(CopyNotNeeded(source.c_str(), target.c_str())) << "a newer target stays";
    SetTime(source, 12);
    EXPECT_FALSE(CopyNotNeeded(source.c_str(), target.c_str()));
}

TEST_F(FileOps, EnsureDirectoryTreeCreatesEachComponentAndKeepsTheText)
{
    char path[MAX_PATH] = "C:\\fs-test\\one\\two\\three\\";
    EXPECT_TRUE(EnsureDirectoryTree(path));
    EXPECT_STREQ(path, "C:\\fs-test\\one\\two\\three\\");
    EXPECT_TRUE(sandbox::DirectoryExists("C:\\fs-test\\one\\two\\three"));

    char existing[MAX_PATH] = "C:\\fs-test";
    EXPECT_TRUE(EnsureDirectoryTree(existing));
    std::string file = Make("plain", "x");
    char overFile[MAX_PATH];
    lstrcpyA(overFile, file.c_str());
    EXPECT_TRUE(EnsureDirectoryTree(overFile));
    char root[MAX_PATH] = "C:\\";
    EXPECT_TRUE(EnsureDirectoryTree(root));
}

TEST_F(FileOps, EnsureDirectoryTreeStopsAtADoubledSeparator)
{
    char path[MAX_PATH] = "C:\\fs-test\\a\\\\b";
    EXPECT_TRUE(EnsureDirectoryTree(path));
    EXPECT_TRUE(sandbox::DirectoryExists("C:\\fs-test\\a"));
    EXPECT_FALSE(sandbox::DirectoryExists("C:\\fs-test\\a\\b"));
}

TEST_F(FileOps, EnsureDirectoryTreeRefusesPathsOutsideItsBufferWithoutABox)
{
    testbed::BoxWatcher watcher;
    char empty[MAX_PATH] = "";
    EXPECT_FALSE(EnsureDirectoryTree(empty));
    char longPath[400];
    std::string text = kScratch + std::string(300, 'd');
    lstrcpyA(longPath, text.c_str());
    EXPECT_FALSE(EnsureDirectoryTree(longPath));
    char serverOnly[MAX_PATH] = "\\\\server";
    EXPECT_FALSE(EnsureDirectoryTree(serverOnly));
    Sleep(200);
    EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(FileOps, EnsureDirectoryTreeReportsTheLastComponentInABManagerBox)
{
    // '|' cannot stand in a Windows name: the intermediate directory is made,
    // the last component is not.
    char path[MAX_PATH] = "C:\\fs-test\\made\\bad|name\\";
    bool result;
    std::vector<testbed::WindowSeen> boxes;
    {
        testbed::BoxWatcher watcher;
        result = EnsureDirectoryTree(path);
        boxes = watcher.Seen();
    }
    EXPECT_FALSE(result);
    EXPECT_STREQ(path, "C:\\fs-test\\made\\bad|name\\");
    EXPECT_TRUE(sandbox::DirectoryExists("C:\\fs-test\\made"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "BManager");
    std::string expected = "C:\\fs-test\\made\\bad|name\n\tDirectory cann't be created.\n\tError ";
    EXPECT_EQ(boxes[0].text.substr(0, expected.size()), expected);
    EXPECT_EQ(boxes[0].text.back(), '.');
    EXPECT_FALSE(boxes[0].exStyle & WS_EX_TOPMOST) << "not system-modal";
    EXPECT_TRUE(boxes[0].errorIcon);
}

}  // namespace
