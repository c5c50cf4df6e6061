// The setup runs with administrator rights from places any user can write
// to: its own folder (a download folder) and %WINDIR%\temp. Nothing planted
// there steers it: a library beside the program is not used, the work
// folder cannot be renamed away while the run uses it, and a file put into
// it never reaches the product. Under Wine the access list of the work
// folder is not enforced, so a file can still be written into it here; on
// Windows only administrators could.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "sandbox.h"
#include "testbed.h"

namespace {

const char kDownload[] = "C:\\bed\\download\\";
const char kPlantedMark[] = "C:\\bed\\planted-version-loaded.txt";
const char kLog[] = "C:\\bed\\untrusted.log";

class UntrustedPlaces : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox::Provision();
        sandbox::RemoveTree(kDownload);
        DeleteFileA(kPlantedMark);
        DeleteFileA(kLog);
    }
    void TearDown() override
    {
        sandbox::RemoveTree(kDownload);
        DeleteFileA(kPlantedMark);
        DeleteFileA(kLog);
        sandbox::Clean();
    }
    static bool Installed(const std::string &name)
    {
        return sandbox::FileExists(std::string(sandbox::kDictionaryDir) + name);
    }
};

// Windows looks beside a program first for a library that is not one of
// its own known ones; Wine is told to do the same for version.dll, for
// programs named setup.exe only (its per-program overrides are read from
// the registry when a program starts). A program that imported version.dll
// would be bound to the planted one (and fail on its missing functions);
// this one reads its identity through the system's. Wine's own user32
// imports version.dll, so under Wine the planted library is still mapped
// into the process at start, which the mark shows; Windows' user32 does not.
TEST_F(UntrustedPlaces, ALibraryPlantedBesideTheProgramIsNotUsed)
{
    CreateDirectoryA(kDownload, nullptr);
    std::string setup = std::string(kDownload) + "setup.exe";
    ASSERT_TRUE(CopyFileA(testbed::SetupPath().c_str(), setup.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((sandbox::BinDir() + "fixtures\\planted\\version.dll").c_str(),
                          (std::string(kDownload) + "version.dll").c_str(), FALSE));
    const char overrides[] = "Software\\Wine\\AppDefaults\\setup.exe\\DllOverrides";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, overrides, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "version", 0, REG_SZ, reinterpret_cast<const BYTE *>("native,builtin"), 15);
    RegCloseKey(key);
    testbed::RunResult run = testbed::RunProgram(setup, " in");
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides);

    EXPECT_TRUE(sandbox::FileExists(kPlantedMark)) << "the override did not take: the test shows nothing";
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_TRUE(Installed("vg.qd"));
}

// The run is let go in short slices; between them its thread is held while
// the next step looks whether the run has reached its point, and when it
// has, the step acts with the run held still there.
struct Step {
    std::function<bool()> reached;
    std::function<void()> act;
};

DWORD RunInSteps(const std::string &tail, const std::vector<Step> &steps, size_t *taken)
{
    PROCESS_INFORMATION process{};
    if (!testbed::StartProgram(testbed::SetupPath(), tail, &process)) return 0xFFFFFFFF;
    *taken = 0;
    DWORD start = GetTickCount();
    SuspendThread(process.hThread);
    while (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0 && GetTickCount() - start < 30000) {
        if (*taken < steps.size() && steps[*taken].reached()) {
            steps[*taken].act();
            ++*taken;
            continue;
        }
        ResumeThread(process.hThread);
        Sleep(0);
        SuspendThread(process.hThread);
    }
    ResumeThread(process.hThread);
    if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 0xDEAD);
    DWORD exitCode = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

TEST_F(UntrustedPlaces, TheWorkFolderCannotBeSwappedOrFilledFromOutside)
{
    std::string work = sandbox::WorkDir();
    std::string folder = work.substr(0, work.size() - 1);
    std::string elsewhere = folder + ".elsewhere";
    auto logged = [](std::string event) {
        return [event] { return sandbox::ReadFileBytes(kLog).find(event) != std::string::npos; };
    };
    // Renaming the folder away and deleting it both fail wherever the run
    // stands; a rename that went through would let a link take its place.
    auto cannotSwap = [&](const char *where) {
        EXPECT_FALSE(MoveFileA(folder.c_str(), elsewhere.c_str())) << where;
        EXPECT_FALSE(RemoveDirectoryA(folder.c_str())) << where;
        if (sandbox::DirectoryExists(elsewhere)) MoveFileA(elsewhere.c_str(), folder.c_str());
    };
    std::vector<Step> steps = {
        {logged("stage clearing the work directory started"), [&] { cannotSwap("before it is cleared"); }},
        {logged("wrote " + work + "quorin.zip"),
         [&] {
             cannotSwap("with the archive written");
             // Before the unpacker runs, as another user with a file made
             // to look like part of the module.
             EXPECT_TRUE(sandbox::WriteTextFile(work + "planted.qd", "not the module's"));
         }},
        {logged("stage DeployModuleFiles started"), [&] { cannotSwap("while the files are copied"); }},
    };
    size_t taken = 0;
    DWORD exitCode = RunInSteps(std::string(" /log=") + kLog + " in", steps, &taken);
    EXPECT_EQ(taken, steps.size()) << sandbox::ReadFileBytes(kLog);
    EXPECT_EQ(exitCode, 0u);
    for (const char *name : {"bg.qd", "gwg.qd", "mg.qd", "vg.qd", "tg.qd"}) EXPECT_TRUE(Installed(name)) << name;
    EXPECT_FALSE(Installed("planted.qd"));
    EXPECT_FALSE(sandbox::FileExists(std::string(sandbox::kProductDir) + "planted.qd"));
    std::string log = sandbox::ReadFileBytes(kLog);
    EXPECT_NE(log.find("passed over " + work + "planted.qd: not in the payload"), std::string::npos) << log;
    EXPECT_FALSE(sandbox::DirectoryExists(work)) << "removed at the end all the same";
}

// A work folder left from before, by a killed run or by anyone, is not
// used as it stands: its files are deleted and the folder removed, or,
// when something else is in it, it is moved aside; either way the run makes
// its own, and nothing of the old one is copied.
TEST_F(UntrustedPlaces, AWorkFolderFromBeforeIsNotUsed)
{
    std::string work = sandbox::WorkDir();
    std::string folder = work.substr(0, work.size() - 1);
    for (bool withSubfolder : {false, true}) {
        sandbox::Provision();
        DeleteFileA(kLog);
        CreateDirectoryA(work.c_str(), nullptr);
        sandbox::WriteTextFile(work + "vg.qd", "planted before the run");
        if (withSubfolder) CreateDirectoryA((work + "sub").c_str(), nullptr);
        testbed::RunResult run = testbed::RunSetup(std::string(" /log=") + kLog + " in");
        EXPECT_EQ(run.exitCode, 0u) << withSubfolder;
        EXPECT_EQ(sandbox::ReadFileBytes(std::string(sandbox::kDictionaryDir) + "vg.qd").size(), 950208u);
        std::string expected = withSubfolder ? "context: moved old " + folder + " aside to " + folder + "."
                                             : "context: removed old " + folder;
        EXPECT_NE(sandbox::ReadFileBytes(kLog).find(expected), std::string::npos) << sandbox::ReadFileBytes(kLog);
    }
}

// A section that does not say which language the module adds describes no
// module: nothing is installed, registered or filed, and the log says why.
TEST_F(UntrustedPlaces, ASectionWithoutItsLanguageInstallsNothing)
{
    for (const char *key : {"Language", "Letter"}) {
        sandbox::Provision();
        sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, key, nullptr);
        std::string before = sandbox::Snapshot();
        DeleteFileA(kLog);
        testbed::RunResult run = testbed::RunSetup(std::string(" /log=") + kLog + " in");
        EXPECT_EQ(run.exitCode, 1u) << key;
        EXPECT_TRUE(run.unexpected.empty()) << key;
        EXPECT_EQ(sandbox::Snapshot(), before) << key;
        EXPECT_NE(sandbox::ReadFileBytes(kLog).find(std::string("has no ") + key), std::string::npos) << key;
    }
}

// quorin.inf held by another program that lets others read it but not
// write: the install flag cannot be written, and the module must not read
// as installed by a run that says it succeeded. The run puts back what it
// had done.
TEST_F(UntrustedPlaces, AnInstallFlagThatCannotBeWrittenFailsTheRun)
{
    HANDLE held = CreateFileA(sandbox::ModuleInfoPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    testbed::RunResult run = testbed::RunSetup(" in");
    CloseHandle(held);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), "0");
    EXPECT_FALSE(Installed("vg.qd")) << "the files are taken back out";
}

}  // namespace
