// Filling the run's context from the Options key, the version resource and
// the file system of a sandbox product.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "context/install_context.h"
#include "context/module_info.h"
#include "sandbox.h"
#include "testbed.h"

namespace {

using sandbox::kOptionsKey;

class Context : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox::Provision();
        ResetInstallContext();
        Handles() = RunHandles{};
        Handles().Instance = GetModuleHandleA(nullptr);
    }
    void TearDown() override
    {
        ReleaseWorkDir();  // held by the context loaded in this process
        sandbox::Clean();
    }

    static std::string Product() { return sandbox::kProductDir; }
};

TEST_F(Context, DefaultPathAndDicPathGiveTheDirectories)
{
    sandbox::WriteRegistryString(kOptionsKey, "RemotePath", "C:\\elsewhere");
    EXPECT_TRUE(LoadInstallContext());
    EXPECT_EQ(Install().ProductDir, Product());
    EXPECT_EQ(Install().DictionaryDir, std::string(sandbox::kDictionaryDir));
    EXPECT_EQ(Install().ConfigPath, Product() + "quorin.cfg");
    EXPECT_EQ(Install().ModuleInfoPath, Product() + "quorin.inf");
    EXPECT_EQ(Install().WorkDir, sandbox::WorkDir());
    EXPECT_TRUE(sandbox::DirectoryExists(sandbox::WorkDir()));
}

TEST_F(Context, RemotePathAloneGivesItsDictionarySubdirectory)
{
    sandbox::DeleteRegistryValue(kOptionsKey, "DefaultPath");
    sandbox::WriteRegistryString(kOptionsKey, "RemotePath", "C:\\Program Files\\Quorin");
    sandbox::WriteRegistryString(kOptionsKey, "DicPath", "C:\\not-read");
    EXPECT_TRUE(LoadInstallContext());
    EXPECT_EQ(Install().ProductDir, Product());
    EXPECT_EQ(Install().DictionaryDir, Product() + "diction\\");
    EXPECT_EQ(Install().ConfigPath, Product() + "quorin.cfg");
}

TEST_F(Context, ATrailingBackslashIsNotDoubled)
{
    sandbox::WriteRegistryString(kOptionsKey, "DefaultPath", "C:\\Program Files\\Quorin\\");
    EXPECT_TRUE(LoadInstallContext());
    EXPECT_EQ(Install().ProductDir, Product());
}

TEST_F(Context, MissingOrUnusableDirectoriesGiveFalse)
{
    struct Case {
        const char *what;
        void (*arrange)();
    } cases[] = {
        {"no Options key", [] { sandbox::DeleteRegistryKey("Software\\Brenmor Software"); }},
        {"DefaultPath directory missing, RemotePath not tried",
         [] {
             sandbox::WriteRegistryString(kOptionsKey, "DefaultPath", "C:\\missing");
             sandbox::WriteRegistryString(kOptionsKey, "RemotePath", "C:\\Program Files\\Quorin");
         }},
        {"no DicPath", [] { sandbox::DeleteRegistryValue(kOptionsKey, "DicPath"); }},
        {"neither DefaultPath nor RemotePath",
         [] { sandbox::DeleteRegistryValue(kOptionsKey, "DefaultPath"); }},
        {"DefaultPath of another type",
         [] { sandbox::WriteRegistryBinary(kOptionsKey, "DefaultPath", std::string("\x43\x3a\x00\x00", 4), REG_DWORD); }},
        {"DefaultPath of 260 bytes without terminator",
         [] { sandbox::WriteRegistryBinary(kOptionsKey, "DefaultPath", "C:\\" + std::string(257, 'x'), REG_SZ); }},
        {"DefaultPath too long for quorin.cfg",
         [] {
             std::string dir = "C:\\" + std::string(247, 'y');  // exists, but no room for "\\quorin.cfg"
             CreateDirectoryA(dir.c_str(), nullptr);
             sandbox::WriteRegistryString(kOptionsKey, "DefaultPath", dir);
         }},
        {"RemotePath without diction",
         [] {
             sandbox::DeleteRegistryValue(kOptionsKey, "DefaultPath");
             sandbox::RemoveTree(sandbox::kDictionaryDir);
             sandbox::WriteRegistryString(kOptionsKey, "RemotePath", "C:\\Program Files\\Quorin");
         }},
    };
    for (const Case &c : cases) {
        sandbox::Provision();
        ResetInstallContext();
        c.arrange();
        EXPECT_FALSE(LoadInstallContext()) << c.what;
        EXPECT_LT(TextLength(Install().ProductDir), kPathCapacity) << c.what;
    }
}

TEST_F(Context, TheTemporaryModuleInformationFileWinsEvenEmpty)
{
    sandbox::WriteTextFile(sandbox::TempModuleInfoPath(), "");
    EXPECT_TRUE(LoadInstallContext());
    EXPECT_EQ(Install().ModuleInfoPath, sandbox::TempModuleInfoPath());

    sandbox::RemoveTree(sandbox::TempModuleInfoPath());
    CreateDirectoryA(sandbox::TempModuleInfoPath().c_str(), nullptr);  // a directory is passed over
    EXPECT_TRUE(LoadInstallContext());
    EXPECT_EQ(Install().ModuleInfoPath, Product() + "quorin.inf");
}

TEST_F(Context, AFileBlockingTheWorkDirectoryGivesFalseWithoutABox)
{
    std::string work = sandbox::WorkDir();
    work.pop_back();
    sandbox::WriteTextFile(work, "in the way");
    testbed::BoxWatcher watcher;
    EXPECT_FALSE(LoadInstallContext());
    Sleep(200);
    EXPECT_TRUE(watcher.Seen().empty());
    DeleteFileA(work.c_str());
}

// The program's own path names its module. One that no path buffer holds
// leaves the module nameless and the context unusable, so that a run writes
// into no nameless section of quorin.inf.
TEST_F(Context, AnOwnPathBeyondAPathBufferLeavesTheContextUnusable)
{
    const char base[] = "C:\\bed\\deep-own-path";
    HMODULE copy = testbed::LoadDeepCopy(sandbox::BinDir() + "q3msg.dll", base);
    ASSERT_NE(copy, nullptr);
    Handles().Instance = copy;
    EXPECT_FALSE(LoadInstallContext());
    EXPECT_STREQ(Install().ModuleName, "");
    FreeLibrary(copy);
    testbed::RemoveDeepTree(base);
}

TEST_F(Context, LocateProductDirFallsBackToRemotePathAndKeepsTheText)
{
    char buffer[kPathCapacity];
    EXPECT_TRUE(LocateProductDir(buffer));
    EXPECT_EQ(std::string(buffer), Product());

    sandbox::WriteRegistryString(kOptionsKey, "DefaultPath", "C:\\missing");
    EXPECT_FALSE(LocateProductDir(buffer));
    EXPECT_STREQ(buffer, "C:\\missing\\");

    sandbox::WriteRegistryString(kOptionsKey, "RemotePath", "C:\\Program Files\\Quorin");
    EXPECT_TRUE(LocateProductDir(buffer));
    EXPECT_EQ(std::string(buffer), Product());

    sandbox::DeleteRegistryKey("Software\\Brenmor Software");
    EXPECT_FALSE(LocateProductDir(buffer));
    EXPECT_STREQ(buffer, "");
}

TEST_F(Context, MarkInstallStateWritesBothCopiesAndCreatesNone)
{
    sandbox::WriteTextFile(sandbox::TempModuleInfoPath(), "[German Dictionary]\r\nInstall=0\r\n");
    ASSERT_TRUE(LoadInstallContext());
    lstrcpyA(Install().ModuleName, sandbox::kModuleSection);
    MarkInstallState(InstallKind::Install);
    EXPECT_EQ(sandbox::ReadIni(sandbox::TempModuleInfoPath(), "German Dictionary", "Install"), "1");
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "German Dictionary", "Install"), "1");
    EXPECT_EQ(std::string(Install().ModuleInfoPath), sandbox::ModuleInfoPath());

    MarkInstallState(InstallKind::Removal);
    EXPECT_EQ(sandbox::ReadIni(sandbox::TempModuleInfoPath(), "German Dictionary", "Install"), "0");
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "German Dictionary", "Install"), "0");
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "French Dictionary", "Install"), "1");

    sandbox::WriteTextFile(sandbox::TempModuleInfoPath(), "");
    sandbox::WriteTextFile(sandbox::ModuleInfoPath(), "");
    MarkInstallState(InstallKind::Install);
    EXPECT_EQ(sandbox::ReadFileBytes(sandbox::TempModuleInfoPath()), "");
    EXPECT_EQ(sandbox::ReadFileBytes(sandbox::ModuleInfoPath()), "");
    sandbox::RemoveTree(sandbox::TempModuleInfoPath());
    sandbox::RemoveTree(sandbox::ModuleInfoPath());
    MarkInstallState(InstallKind::Install);
    EXPECT_FALSE(sandbox::FileExists(sandbox::TempModuleInfoPath()));
    EXPECT_FALSE(sandbox::FileExists(sandbox::ModuleInfoPath()));
}

}  // namespace
