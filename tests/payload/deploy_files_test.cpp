// DeployModuleFiles in-process, over a work directory the tests fill
// themselves, against the sandbox product (whose "mod0" names the dictionary
// directory; the other destinations are covered by the install runs). The
// test program carries a payload of its own (deploy_names.py) that lists
// the names used here.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "context/install_context.h"
#include "journal/journal.h"
#include "payload/deploy_files.h"
#include "sandbox.h"
#include "support/error_box.h"
#include "support/text.h"

namespace {

using sandbox::kDictionaryDir;
using sandbox::kProductDir;

FILETIME AtHour(int year, int hour)
{
    SYSTEMTIME system{static_cast<WORD>(year), 1, 0, 1, static_cast<WORD>(hour), 0, 0, 0};
    FILETIME time;
    SystemTimeToFileTime(&system, &time);
    return time;
}

void SetTime(const std::string &path, FILETIME time)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

// The name as the directory holds it (case included), or "" when missing.
std::string StoredName(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(path.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return "";
    FindClose(find);
    return found.cFileName;
}

class DeployTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sandbox::Provision();
        ResetInstallContext();
        InstallContext &context = Install();
        CopyText(context.ProductDir, kPathCapacity, kProductDir);
        CopyText(context.DictionaryDir, kPathCapacity, kDictionaryDir);
        CopyText(context.WorkDir, kPathCapacity, sandbox::WorkDir().c_str());
        CopyText(context.ModuleName, kNameCapacity, sandbox::kModuleSection);
        CopyText(context.ModuleInfoPath, kPathCapacity, sandbox::ModuleInfoPath().c_str());
        CreateDirectoryA(sandbox::WorkDir().c_str(), nullptr);
    }
    void TearDown() override { sandbox::Clean(); }

    // One run's deployment, committed (or put back, when it failed) as the
    // run would, and the next one starting afresh.
    static bool DeployModuleFiles()
    {
        bool deployed = ::DeployModuleFiles();
        SettleJournal();
        ResetErrorBoxShown();
        return deployed;
    }

    static std::string Unpacked(const std::string &name, const std::string &content = "unpacked data")
    {
        std::string path = sandbox::WorkDir() + name;
        sandbox::WriteTextFile(path, content);
        return path;
    }
};

TEST_F(DeployTest, OnlyQdFilesAreCopiedUnderLowerCaseNames)
{
    Unpacked("quorin.zip");
    Unpacked("a.b.zip");
    Unpacked("TG.QD");
    Unpacked("x.zip.qd");
    Unpacked("50%d.qd");
    Unpacked("notes.txt");
    Unpacked("noextension");
    Unpacked("planted.qd");  // a dictionary file the payload does not list
    CreateDirectoryA((sandbox::WorkDir() + "folder.qd").c_str(), nullptr);
    Unpacked("folder.qd\\inner.qd");

    EXPECT_TRUE(DeployModuleFiles());
    EXPECT_EQ(StoredName(std::string(kDictionaryDir) + "tg.qd"), "tg.qd");
    EXPECT_TRUE(sandbox::FileExists(std::string(kDictionaryDir) + "x.zip.qd"));
    EXPECT_EQ(StoredName(std::string(kDictionaryDir) + "50%d.qd"), "50%d.qd");
    for (const char *name : {"quorin.zip", "a.b.zip", "notes.txt", "noextension", "planted.qd", "folder.qd",
                             "inner.qd"})
        EXPECT_FALSE(sandbox::FileExists(std::string(kDictionaryDir) + name)) << name;
}

TEST_F(DeployTest, TimesDecideWhetherAnInstalledCopyIsReplaced)
{
    std::string newer = std::string(kDictionaryDir) + "newer.qd";
    std::string equal = std::string(kDictionaryDir) + "equal.qd";
    std::string older = std::string(kDictionaryDir) + "older.qd";
    SetTime(Unpacked("newer.qd", "payload"), AtHour(2005, 10));
    SetTime(Unpacked("equal.qd", "payload"), AtHour(2005, 10));
    SetTime(Unpacked("older.qd", "payload"), AtHour(2005, 10));
    sandbox::WriteTextFile(newer, "installed");
    SetTime(newer, AtHour(2005, 11));
    sandbox::WriteTextFile(equal, "installed");
    SetTime(equal, AtHour(2005, 10));
    sandbox::WriteTextFile(older, "installed");
    SetTime(older, AtHour(2005, 9));

    EXPECT_TRUE(DeployModuleFiles());
    EXPECT_EQ(sandbox::ReadFileBytes(newer), "installed");
    EXPECT_EQ(sandbox::ReadFileBytes(equal), "payload");
    EXPECT_EQ(sandbox::ReadFileBytes(older), "payload");
}

TEST_F(DeployTest, FilesNeedingNoCopyCountEvenWhenNotDictionaryFiles)
{
    Unpacked("empty.qd", "");
    EXPECT_TRUE(DeployModuleFiles()) << "an empty file needs no copy";
    EXPECT_FALSE(sandbox::FileExists(std::string(kDictionaryDir) + "empty.qd"));

    DeleteFileA((sandbox::WorkDir() + "empty.qd").c_str());
    SetTime(Unpacked("readme.txt"), AtHour(2005, 10));
    EXPECT_FALSE(DeployModuleFiles()) << "another extension is not copied";
    std::string installed = std::string(kDictionaryDir) + "readme.txt";
    sandbox::WriteTextFile(installed, "installed");
    SetTime(installed, AtHour(2010, 10));
    EXPECT_TRUE(DeployModuleFiles()) << "but a newer copy of it counts";
}

TEST_F(DeployTest, NothingToCopyGivesFalse)
{
    Unpacked("quorin.zip");
    CreateDirectoryA((sandbox::WorkDir() + "sub").c_str(), nullptr);
    Unpacked("sub\\bg.qd");
    EXPECT_FALSE(DeployModuleFiles());

    sandbox::RemoveTree(sandbox::WorkDir());
    EXPECT_FALSE(DeployModuleFiles()) << "a work directory that cannot be listed";
}

TEST_F(DeployTest, AReadOnlyTargetStopsTheWholeDeployment)
{
    std::string locked = std::string(kDictionaryDir) + "bg.qd";
    sandbox::WriteTextFile(locked, "installed");
    SetTime(locked, AtHour(2000, 10));
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    SetTime(Unpacked("bg.qd", "payload"), AtHour(2005, 10));
    EXPECT_FALSE(DeployModuleFiles()) << "the only file could not be copied";
    EXPECT_EQ(sandbox::ReadFileBytes(locked), "installed");

    Unpacked("mg.qd", "payload");
    EXPECT_FALSE(DeployModuleFiles()) << "nor does any other file";
    EXPECT_FALSE(sandbox::FileExists(std::string(kDictionaryDir) + "mg.qd"));
    EXPECT_FALSE(sandbox::FileExists(std::string(kDictionaryDir) + "mg.qd~"));
    EXPECT_EQ(sandbox::ReadFileBytes(locked), "installed");
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A destination so deep that a name of 24 characters makes its target path
// 255 characters long: that one is installed (its aside name, four more,
// still fits), one character more fails the deployment.
TEST_F(DeployTest, NamesTooLongForTheTargetPathFailTheDeployment)
{
    const std::string fitting = std::string(21, 'f') + ".qd";
    const std::string tooLong = std::string(22, 't') + ".qd";
    std::string deep = kDictionaryDir;
    while (deep.size() < 255 - fitting.size()) {
        deep += std::string(std::min<size_t>(40, 255 - fitting.size() - deep.size() - 1), 'd') + "\\";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
    }
    ASSERT_EQ(deep.size() + fitting.size(), 255u);
    CopyText(Install().DictionaryDir, kPathCapacity, deep.c_str());
    Unpacked(tooLong);
    EXPECT_FALSE(DeployModuleFiles());
    EXPECT_FALSE(sandbox::FileExists(deep + tooLong));

    DeleteFileA((sandbox::WorkDir() + tooLong).c_str());
    Unpacked(fitting);
    EXPECT_TRUE(DeployModuleFiles());
    EXPECT_TRUE(sandbox::FileExists(deep + fitting));
}

}  // namespace
