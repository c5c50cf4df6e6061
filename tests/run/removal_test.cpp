// Silent removal runs of setup.exe against a sandbox product.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "sandbox.h"
#include "testbed.h"

namespace {

using sandbox::kDictionaryDir;
using sandbox::kProductDir;

class Removal : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox::Provision();
        for (const char *name : {"bg.qd", "gwg.qd", "mg.qd", "vg.qd", "tg.qd"})
            sandbox::WriteTextFile(std::string(kDictionaryDir) + name, "dictionary data");
    }
    void TearDown() override { sandbox::Clean(); }

    static void SetModuleKey(const char *key, const char *value)
    {
        sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, key, value);
    }
    static bool Installed(const char *name) { return sandbox::FileExists(std::string(kDictionaryDir) + name); }
};

TEST_F(Removal, DeletesTheListedFilesAndMarksTheModuleRemoved)
{
    sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install", "1");
    testbed::RunResult run = testbed::RunSetup(" un");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.unexpected.empty());
    for (const char *name : {"bg.qd", "gwg.qd", "mg.qd", "vg.qd", "tg.qd"}) EXPECT_FALSE(Installed(name)) << name;
    EXPECT_TRUE(Installed("bf.qd")) << "another module's file";
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "German Dictionary", "Install"), "0");
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "French Dictionary", "Install"), "1");
}

TEST_F(Removal, TheTailIsReadWithoutCase)
{
    EXPECT_EQ(testbed::RunSetup(" UN").exitCode, 0u);
    EXPECT_FALSE(Installed("bg.qd"));
}

TEST_F(Removal, AGapEndsTheFileList)
{
    sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "mod2", nullptr);
    EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u);
    EXPECT_FALSE(Installed("bg.qd"));
    EXPECT_FALSE(Installed("gwg.qd"));
    EXPECT_TRUE(Installed("vg.qd")) << "mod3 lies after the gap";
    EXPECT_TRUE(Installed("tg.qd"));
}

TEST_F(Removal, AnEmptyListRemovesNothingButStillFinishes)
{
    SetModuleKey("mod0", "");
    SetModuleKey("Install", "1");
    EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u);
    EXPECT_TRUE(Installed("bg.qd"));
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "German Dictionary", "Install"), "0");
}

// A wildcard matches a file the delete cannot name: it is skipped like a
// value outside, or every removal would fail.
TEST_F(Removal, ValuesThatAreNotOneFileInsideTheProductAreSkipped)
{
    std::string outside = "C:\\outside.qd";
    sandbox::WriteTextFile(outside, "keep me");
    sandbox::WriteTextFile(std::string(kProductDir) + "..\\sibling.qd", "keep me too");
    SetModuleKey("mod0", "C:\\outside.qd");
    SetModuleKey("mod1", "..\\sibling.qd");
    SetModuleKey("mod2", "diction/../../sibling.qd");
    SetModuleKey("mod3", "diction\\*.qd");
    SetModuleKey("mod4", "diction\\vg.qd");
    EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u);
    EXPECT_TRUE(sandbox::FileExists(outside));
    EXPECT_TRUE(sandbox::FileExists(std::string(kProductDir) + "..\\sibling.qd"));
    EXPECT_FALSE(Installed("vg.qd")) << "the loop goes on after a skipped value";
    DeleteFileA(outside.c_str());
    DeleteFileA((std::string(kProductDir) + "..\\sibling.qd").c_str());
}

// The setup runs elevated, and the list may come from the temporary copy
// of quorin.inf that any user may write: a removal takes only dictionary
// files of the module, never the product's program, libraries or
// configuration, and nothing in a folder other than the product's and its
// diction folder.
TEST_F(Removal, OnlyDictionaryFilesAreTakenWhateverTheListSays)
{
    const char *const product[] = {"quorin.exe", "q3msg.dll", "unzip.dll", "quorin.cfg"};
    auto keptWhole = [&](const char *which) {
        for (const char *name : product)
            EXPECT_TRUE(sandbox::FileExists(std::string(kProductDir) + name)) << name << " " << which;
    };
    for (bool temporary : {false, true}) {
        SetUp();
        std::string list = "[German Dictionary]\r\nTitleE=T\r\nLanguage=German\r\nLetter=G\r\n";
        int n = 0;
        for (const char *name : product) list += "mod" + std::to_string(n++) + "=" + name + "\r\n";
        list += "mod" + std::to_string(n++) + "=diction\\vg.qd\r\nInstall=1\r\n";
        sandbox::WriteTextFile(temporary ? sandbox::TempModuleInfoPath() : sandbox::ModuleInfoPath(), list);
        EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u) << temporary;
        keptWhole(temporary ? "a planted temporary quorin.inf" : "the product's quorin.inf");
        EXPECT_FALSE(Installed("vg.qd")) << "the module's own file still goes";
        EXPECT_EQ(sandbox::ReadIni(sandbox::ConfigPath(), "Languages", "TranLangs"), "ER");
        DeleteFileA(sandbox::TempModuleInfoPath().c_str());
    }
}

// A diction folder that is a link is followed only where the registry names
// it as the dictionary folder (administrators move data to another drive
// that way); one a user made in the product folder, with the dictionary
// folder elsewhere, leads neither a removal nor a journal anywhere.
TEST_F(Removal, ADictionFolderThatIsALinkIsFollowedOnlyWhereTheRegistryNamesIt)
{
    const std::string moved = "C:\\bed\\moved-dictionaries", victim = "C:\\bed\\victim";
    const std::string diction = std::string(kDictionaryDir).substr(0, std::string(kDictionaryDir).size() - 1);
    sandbox::RemoveTree(diction);
    for (const std::string &dir : {moved, victim}) CreateDirectoryA(dir.c_str(), nullptr);
    if (!testbed::MakeUnixLink(moved, diction)) GTEST_SKIP() << "no symbolic link could be made here";
    EXPECT_EQ(testbed::RunSetup(" in").exitCode, 0u);
    EXPECT_TRUE(sandbox::FileExists(moved + "\\vg.qd"));
    EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u);
    EXPECT_FALSE(sandbox::FileExists(moved + "\\vg.qd"));
    testbed::RemoveUnixLink(diction);

    // The dictionary folder elsewhere, and diction a link to another folder.
    sandbox::WriteRegistryString(sandbox::kOptionsKey, "DicPath", moved);
    sandbox::WriteTextFile(victim + "\\secret.qd", "not the module's");
    ASSERT_TRUE(testbed::MakeUnixLink(victim, diction));
    SetModuleKey("mod0", "diction\\secret.qd");
    EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u);
    EXPECT_TRUE(sandbox::FileExists(victim + "\\secret.qd"));
    sandbox::WriteTextFile(std::string(kProductDir) + "quorin.jnl",
                           "quorin journal 1\r\nadded " + diction + "\\secret.qd\r\n");
    EXPECT_EQ(testbed::RunSetup(" in").exitCode, 0u);
    EXPECT_TRUE(sandbox::FileExists(victim + "\\secret.qd"));
    EXPECT_TRUE(sandbox::FileExists(std::string(kProductDir) + "quorin.jnl.bad"));
    testbed::RemoveUnixLink(diction);
    sandbox::RemoveTree(moved);
    sandbox::RemoveTree(victim);
}

TEST_F(Removal, LongValuesAreCutTo63Characters)
{
    std::string name = std::string(63 - 8 - 3, 'n') + ".qd";
    std::string truncated = std::string(kDictionaryDir) + name;
    sandbox::WriteTextFile(truncated, "cut");
    SetModuleKey("mod0", ("diction\\" + name + "-longer.qd").c_str());
    EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u);
    EXPECT_FALSE(sandbox::FileExists(truncated));
}

TEST_F(Removal, AMissingModuleFileIsReported)
{
    DeleteFileA(sandbox::ModuleInfoPath().c_str());
    testbed::RunResult run = testbed::RunSetup(" un", 30000, [](HWND, const testbed::WindowSeen &) { return false; });
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.unexpected.size(), 1u);
    EXPECT_EQ(run.unexpected[0].caption, "Quorin");
    EXPECT_EQ(run.unexpected[0].text, "File quorin.inf not found.");
    EXPECT_TRUE(run.unexpected[0].exStyle & WS_EX_TOPMOST) << "system-modal";
    EXPECT_TRUE(run.unexpected[0].hasIcon);
    EXPECT_TRUE(Installed("bg.qd"));
}

TEST_F(Removal, AnEmptyModuleFileCountsAsMissing)
{
    sandbox::WriteTextFile(sandbox::ModuleInfoPath(), "");
    testbed::RunResult run = testbed::RunSetup(" un");
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.unexpected.size(), 1u);
    EXPECT_EQ(run.unexpected[0].text, "File quorin.inf not found.");
    EXPECT_EQ(sandbox::ReadFileBytes(sandbox::ModuleInfoPath()), "");
}

TEST_F(Removal, TheTemporaryCopyIsUsedAndBothCopiesReadRemoved)
{
    sandbox::WriteTextFile(sandbox::TempModuleInfoPath(),
                           "[German Dictionary]\r\nTitleE=Temp\r\nLanguage=German\r\nLetter=G\r\n"
                           "mod0=diction\\mg.qd\r\nInstall=1\r\n");
    EXPECT_EQ(testbed::RunSetup(" un").exitCode, 0u);
    EXPECT_FALSE(Installed("mg.qd"));
    EXPECT_TRUE(Installed("bg.qd")) << "the product's list is not the one in use";
    EXPECT_EQ(sandbox::ReadIni(sandbox::TempModuleInfoPath(), "German Dictionary", "Install"), "0");
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "German Dictionary", "Install"), "0");
}

TEST_F(Removal, AnUnusableContextRunsNoStageAndFails)
{
    sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DicPath");
    SetModuleKey("Install", "1");
    testbed::RunResult run = testbed::RunSetup(" un");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_TRUE(Installed("bg.qd"));
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), "German Dictionary", "Install"), "1");
}

}  // namespace
