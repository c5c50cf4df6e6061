// setup.exe killed between the stages of an install and of a removal, then
// run again with the same command: the rerun ends with the files, the
// configuration file, the registry, the install flags and the uninstall
// entry of an uninterrupted run, with nothing listed twice. The points are
// found from outside: a stand-in unpacker that waits once the archive is
// written, and, for the later points, the run's own traces in files and
// registry, read while the run is held still.
#include <gtest/gtest.h>

#include "fault_bed.h"
#include "sandbox.h"

namespace {

std::string Cfg(const char *key) { return sandbox::ReadIni(faults::ConfigPath(), "Languages", key); }

std::string Registry(const char *name)
{
    std::string data;
    if (!sandbox::ReadRegistry(sandbox::kOptionsKey, name, nullptr, &data)) return "<missing>";
    if (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
}

int WholePayloadFiles()
{
    const DWORD sizes[5] = {27133, 1364, 59577, 950208, 7486};
    int whole = 0;
    for (int i = 0; i < 5; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA((faults::DictionaryDir() + faults::kPayloadNames[i]).c_str(),
                                 GetFileExInfoStandard, &data) &&
            data.nFileSizeLow == sizes[i])
            ++whole;
    }
    return whole;
}

int PayloadFilesLeft()
{
    int left = 0;
    for (const char *name : faults::kPayloadNames) left += sandbox::FileExists(faults::DictionaryDir() + name);
    return left;
}

int ModuleEntries()
{
    std::vector<std::string> files;
    sandbox::ListTree(sandbox::InstallShieldDir(), "", files, false);
    int entries = 0;
    for (const std::string &file : files)
        if (file.size() > 9 && file.compare(file.size() - 9, 9, "setup.ini") == 0 &&
            sandbox::ReadIni(sandbox::InstallShieldDir() + file, "Startup", "AppName") == sandbox::kAppName)
            ++entries;
    return entries;
}

// The points of an install run.
bool SomeFilesCopied() { int whole = WholePayloadFiles(); return whole >= 1 && whole <= 4; }
bool ConfigWrittenNotRegistry() { return Cfg("Language3") == "German" && Registry("Language3") == "<missing>"; }
bool RegisteredNoEntry() { return Registry("Directions") == "ER:RE:EG:GE:RG:GR:" && ModuleEntries() == 0; }

// The entry's folder and setup.ini with both keys are made, its copy of the
// program is not whole yet. (A run killed inside the platform's rewrite of
// setup.ini leaves that file empty, like quorin.cfg: see README.)
bool EntryWithoutProgram()
{
    if (ModuleEntries() != 1) return false;
    std::vector<std::string> files;
    sandbox::ListTree(sandbox::InstallShieldDir(), "", files, true);
    for (const std::string &file : files)
        if (file.find("setup.ini") != std::string::npos &&
            sandbox::ReadIni(sandbox::InstallShieldDir() + file.substr(0, file.find(" (")), "Startup", "ExeName") ==
                "<missing>")
            return false;
    for (const std::string &file : files)
        if (file.find("setup.exe") != std::string::npos &&
            file.find(std::to_string(sandbox::ReadFileBytes(testbed::SetupPath()).size()) + " bytes") !=
                std::string::npos)
            return false;
    return true;
}

// The points of a removal run.
bool SomeFilesDeleted() { int left = PayloadFilesLeft(); return left >= 1 && left <= 4; }
// TranLangs read back as "ER" also says the file's rewrite is complete: a
// run killed inside the platform's rewrite leaves it empty (see README).
bool ConfigCleanedNotRegistry()
{
    return Cfg("TranLangs") == "ER" && Cfg("Language3") == "<missing>" && Registry("Directions") != "ER:RE:";
}
bool UnregisteredFlagNotSet()
{
    return Registry("Directions") == "ER:RE:" &&
           sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install") == "1";
}

class KilledRun : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        faults::UseSandboxProduct();
        ASSERT_EQ(faults::Run(" in").exitCode, 0u);
        installed_ = new std::string(faults::State());
        ASSERT_EQ(faults::Run(" un").exitCode, 0u);
        removed_ = new std::string(faults::State());
        sandbox::Clean();
    }
    static void TearDownTestSuite()
    {
        delete installed_;
        delete removed_;
    }
    void SetUp() override { faults::UseSandboxProduct(); }
    void TearDown() override { sandbox::Clean(); }

    // Kills the run at the point (trying a few times, as the point is met
    // between two slices of the run or not at all), reruns the command and
    // compares with the uninterrupted end state.
    static void KillAndRerun(const char *tail, bool (*point)(), const char *what, const std::string &expected)
    {
        bool killed = false;
        int attempts = 0;
        while (attempts < 20 && !killed) {
            ++attempts;
            faults::UseSandboxProduct();
            if (tail[1] == 'u') {
                ASSERT_EQ(faults::Run(" in").exitCode, 0u);
            }
            killed = faults::KillWhen(tail, point);
        }
        EXPECT_TRUE(killed) << what << ": the run was never caught at this point";
        ::testing::Test::RecordProperty("attempts", attempts);
        EXPECT_TRUE(point()) << what << ": the run moved on before it died";
        faults::Outcome rerun = faults::Run(tail);
        EXPECT_EQ(rerun.exitCode, 0u) << what;
        EXPECT_TRUE(rerun.boxes.empty()) << what;
        EXPECT_EQ(faults::State(), expected) << what;
    }

    static std::string *installed_;
    static std::string *removed_;
};

std::string *KilledRun::installed_ = nullptr;
std::string *KilledRun::removed_ = nullptr;

TEST_F(KilledRun, InstallKilledOnceTheArchiveIsWritten)
{
    // The stand-in unpacker signals and waits: the archive is whole by then.
    HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, "QuorinFaultsGate");
    SetEnvironmentVariableA("QUORIN_GATE_EVENT", "QuorinFaultsGate");
    std::string unzip = faults::ProductDir() + "unzip.dll";
    ASSERT_TRUE(CopyFileA((sandbox::BinDir() + "fixtures\\gate_unzip.dll").c_str(), unzip.c_str(), FALSE));
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(faults::StartSetup(" in", &process));
    EXPECT_EQ(WaitForSingleObject(reached, 30000), WAIT_OBJECT_0);
    TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(reached);
    SetEnvironmentVariableA("QUORIN_GATE_EVENT", nullptr);
    EXPECT_EQ(sandbox::ReadFileBytes(sandbox::WorkDir() + "quorin.zip").size(), 331561u);

    ASSERT_TRUE(CopyFileA((sandbox::BinDir() + "unzip.dll").c_str(), unzip.c_str(), FALSE));
    faults::Outcome rerun = faults::Run(" in");
    EXPECT_EQ(rerun.exitCode, 0u);
    EXPECT_EQ(faults::State(), *installed_);
}

TEST_F(KilledRun, InstallKilledAfterSomeFilesAreCopied)
{
    KillAndRerun(" in", SomeFilesCopied, "some files copied", *installed_);
}

TEST_F(KilledRun, InstallKilledBetweenConfigurationAndRegistry)
{
    KillAndRerun(" in", ConfigWrittenNotRegistry, "configuration written, registry not", *installed_);
}

TEST_F(KilledRun, InstallKilledBetweenRegistrationAndUninstallEntry)
{
    KillAndRerun(" in", RegisteredNoEntry, "registered, no uninstall entry", *installed_);
}

TEST_F(KilledRun, InstallKilledWhileTheUninstallEntryIsMade)
{
    KillAndRerun(" in", EntryWithoutProgram, "entry made, program not yet copied", *installed_);
}

TEST_F(KilledRun, RemovalKilledAfterSomeFilesAreDeleted)
{
    KillAndRerun(" un", SomeFilesDeleted, "some files deleted", *removed_);
}

TEST_F(KilledRun, RemovalKilledBetweenConfigurationAndRegistry)
{
    KillAndRerun(" un", ConfigCleanedNotRegistry, "configuration cleaned, registry not", *removed_);
}

TEST_F(KilledRun, RemovalKilledBeforeTheInstallFlag)
{
    KillAndRerun(" un", UnregisteredFlagNotSet, "unregistered, flag not yet 0", *removed_);
}

}  // namespace
