// The setup runs with administrator rights from places any user can write
// to: its own folder (a download folder) and %WINDIR%\temp. Nothing planted
// there steers it: a library beside the program is not used, the work
// folder cannot be renamed away while the run uses it, and a file put into
// it never reaches the product. Under Wine the access list of the work
// folder is not enforced, so a file can still be written into it here; on
// Windows only administrators could.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

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
        // Nor can it be opened to write, as making it a mount point needs.
        HANDLE writer = CreateFileA(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << where;
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
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

// Another user making the work folder again and again, and holding a file
// open in each one made, so that a run using it could not clear it.
struct Racer {
    std::string folder;
    volatile LONG stop = 0;
    std::vector<HANDLE> held;
};

DWORD WINAPI Race(void *data)
{
    auto *racer = static_cast<Racer *>(data);
    while (!racer->stop) {
        if (!CreateDirectoryA(racer->folder.c_str(), nullptr)) continue;
        HANDLE file = CreateFileA((racer->folder + "\\planted.qd").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE) WriteFile(file, "another user's", 14, &written, nullptr);
        racer->held.push_back(file);
    }
    return 0;
}

// Between clearing the work folder's name and making the folder, another
// user may make a folder of that name, theirs to turn into a link while the
// run uses it. The run uses only a folder it made itself: it clears the
// name again, and gives up (nothing changed) when it keeps losing.
TEST_F(UntrustedPlaces, AWorkFolderMadeByAnotherUserMeanwhileIsNotUsed)
{
    Racer racer;
    racer.folder = sandbox::WorkDir();
    racer.folder.pop_back();
    HANDLE thread = CreateThread(nullptr, 0, Race, &racer, 0, nullptr);
    testbed::RunResult run = testbed::RunSetup(std::string(" /log=") + kLog + " in");
    racer.stop = 1;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    for (HANDLE file : racer.held)
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    std::string log = sandbox::ReadFileBytes(kLog);
    EXPECT_FALSE(racer.held.empty()) << "the other user never made the folder: the test shows nothing";
    // The run's own folder is new and empty: the walk never meets the file.
    EXPECT_EQ(log.find("passed over " + sandbox::WorkDir() + "planted.qd"), std::string::npos) << log;
    if (run.exitCode == 0u) {
        EXPECT_TRUE(Installed("vg.qd"));
    } else {
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_NE(log.find(" is in the way"), std::string::npos) << log;
        EXPECT_FALSE(Installed("vg.qd"));
    }
    sandbox::RemoveTree(racer.folder);
}

// A product folder every user may write (made at the root of a drive, say)
// lets any of them plant a library the elevated setup loads from there. The
// run cannot mend that, but names it in the log; a folder that only
// administrators may change is not named.
TEST_F(UntrustedPlaces, AProductFolderEveryUserMayWriteIsNamedInTheLog)
{
    const char warning[] = "every user may write into";
    EXPECT_EQ(testbed::RunSetup(std::string(" /log=") + kLog + " un").exitCode, 0u);
    EXPECT_EQ(sandbox::ReadFileBytes(kLog).find(warning), std::string::npos) << sandbox::ReadFileBytes(kLog);

    // Wine keeps a folder's access list as its Unix mode, which knows the
    // owner and everyone else: Everyone may be given the right to change
    // the folder here, Users and Authenticated Users cannot.
    DeleteFileA(kLog);
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;0x1301bf;;;WD)(A;OICI;FA;;;BA)",
                                                                     SDDL_REVISION_1, &open, nullptr));
    ASSERT_TRUE(SetFileSecurityA(sandbox::kProductDir, DACL_SECURITY_INFORMATION, open));
    LocalFree(open);
    EXPECT_EQ(testbed::RunSetup(std::string(" /log=") + kLog + " un").exitCode, 0u);
    std::string log = sandbox::ReadFileBytes(kLog);
    EXPECT_NE(log.find(std::string("context: ") + warning + " " + sandbox::kProductDir), std::string::npos) << log;
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
