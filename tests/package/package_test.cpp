// Each module's Windows Installer package under Wine's real msiexec, in the
// sandbox product, the way a deployment tool drives it: install, removal,
// repair, two modules side by side, an upgrade and a downgrade, the faults
// whose exit codes such a tool acts on, and the refusal without the product
// in the user's language. No part of the installer is stood in for.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <string>
#include <vector>

#include "locale_run.h"
#include "no_product_texts.h"
#include "sandbox.h"
#include "testbed.h"

namespace {

struct Module {
    const char *name;     // the package's: packages\NAME\quorin-NAME.msi
    const char *section;  // in quorin.inf
    const char *title;    // the package's product name
    const char *version;
    char letter;
    std::vector<std::string> files;
};

const Module kGerman{"german", "German Dictionary", "Quorin German Dictionary", "1.0.0.1", 'G',
                     {"bg.qd", "gwg.qd", "mg.qd", "vg.qd", "tg.qd"}};
const Module kFrench{"french", "French Dictionary", "Quorin French Dictionary", "1.0.0.2", 'F',
                     {"bf.qd", "fwf.qd", "mf.qd", "vf.qd"}};
const Module kDatedEarlier{"dated_earlier", "Dated Dictionary", "Quorin Dated Dictionary", "1.0.0.0", 'D',
                           {"dated.qd"}};
const Module kDatedLater{"dated_later", "Dated Dictionary", "Quorin Dated Dictionary", "2.0.0.0", 'D',
                         {"dated.qd"}};
const Module *const kAll[] = {&kGerman, &kFrench, &kDatedEarlier, &kDatedLater};

std::string PackagePath(const Module &module)
{
    return sandbox::BinDir() + "packages\\" + module.name + "\\quorin-" + module.name + ".msi";
}

// Beside the test bed's bin\ folder, so that the copy of bin\ never takes it.
std::string LogPath()
{
    std::string bin = sandbox::BinDir();
    return bin.substr(0, bin.size() - 4) + "package.log";
}

// One value of the package's own database: what Windows Installer reads.
std::string QueryPackage(const Module &module, const char *query)
{
    std::string value;
    MSIHANDLE database = 0, view = 0, record = 0;
    if (MsiOpenDatabaseA(PackagePath(module).c_str(), MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
        MsiDatabaseOpenViewA(database, query, &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        char buffer[512];
        DWORD size = sizeof buffer;
        if (MsiRecordGetStringA(record, 1, buffer, &size) == ERROR_SUCCESS) value.assign(buffer, size);
    }
    for (MSIHANDLE handle : {record, view, database})
        if (handle != 0) MsiCloseHandle(handle);
    return value;
}

std::string ProductCode(const Module &module)
{
    return QueryPackage(module, "SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'");
}

bool ProductInstalled(const Module &module)
{
    return MsiQueryProductStateA(ProductCode(module).c_str()) == INSTALLSTATE_DEFAULT;
}

// msiexec with these arguments, silent and logging verbosely into LogPath();
// its exit code.
DWORD Msiexec(const std::string &arguments)
{
    DeleteFileA(LogPath().c_str());
    char system[MAX_PATH];
    UINT length = GetSystemDirectoryA(system, MAX_PATH);
    std::string msiexec = std::string(system, length) + "\\msiexec.exe";
    testbed::RunResult run = testbed::RunProgram(msiexec, " " + arguments + " /qn /l*v \"" + LogPath() + "\"", 240000);
    EXPECT_FALSE(run.timedOut) << arguments;
    EXPECT_TRUE(run.unexpected.empty()) << arguments << ": a window under /qn";
    return run.exitCode;
}
DWORD Install(const Module &module) { return Msiexec("/i \"" + PackagePath(module) + "\""); }
DWORD Remove(const Module &module) { return Msiexec("/x " + ProductCode(module)); }
// The property form of /fa: Wine's msiexec answers /fa with 1605.
DWORD Repair(const Module &module)
{
    return Msiexec("/i \"" + PackagePath(module) + "\" REINSTALL=ALL REINSTALLMODE=amus");
}

std::string InstallerLog() { return sandbox::ReadFileBytes(LogPath()); }


// The package opened as Windows Installer opens it to install, the user's
// language set to language, and sequence run up to its launch conditions,
// which fail without the product; the no-product message as the installer
// formats it then, or what went wrong.
std::wstring NoProductMessage(const Module &module, const char *sequence, LANGID language)
{
    std::string message = QueryPackage(module, "SELECT `Description` FROM `LaunchCondition` WHERE `Condition`<>"
                                               "'NOT WIX_DOWNGRADE_DETECTED'");
    std::wstring formatted = L"(the package did not open)";
    MSIHANDLE package = 0, record = 0;
    if (MsiOpenPackageA(PackagePath(module).c_str(), &package) == ERROR_SUCCESS) {
        MsiSetPropertyA(package, "UserLanguageID", std::to_string(language).c_str());
        UINT sequenced = MsiSequenceA(package, sequence, 0);
        record = MsiCreateRecord(0);
        MsiRecordSetStringA(record, 0, message.c_str());
        wchar_t buffer[512];
        DWORD size = 512;
        if (sequenced != ERROR_INSTALL_FAILURE)
            formatted = L"(the sequence ended with " + std::to_wstring(sequenced) + L")";
        else if (MsiFormatRecordW(package, record, buffer, &size) == ERROR_SUCCESS)
            formatted.assign(buffer, size);
    }
    for (MSIHANDLE handle : {record, package})
        if (handle != 0) MsiCloseHandle(handle);
    return formatted;
}

// msiexec with arguments (a UI level of its own) on a Windows of locale:
// the texts of the boxes it showed, each closed as OK would, and its exit
// code.
DWORD MsiexecInLocale(const localerun::Locale &locale, const std::string &arguments,
                      std::vector<std::wstring> *boxes)
{
    char system[MAX_PATH];
    UINT length = GetSystemDirectoryA(system, MAX_PATH);
    testbed::RunResult run = localerun::RunInLocale(
        locale, std::string(system, length) + "\\msiexec.exe", " " + arguments, 240000,
        [&](HWND window, const testbed::WindowSeen &seen) {
            if (seen.className != "#32770") return false;
            boxes->push_back(localerun::WideText(window));
            PostMessageA(window, WM_COMMAND, IDOK, 0);
            return true;
        });
    EXPECT_EQ(run.startError, 0u) << arguments;
    EXPECT_FALSE(run.timedOut) << arguments;
    EXPECT_TRUE(run.unexpected.empty()) << arguments;
    return run.exitCode;
}

// The installed-programs entry of the package: DisplayName, DisplayVersion
// and Publisher, or "" when there is none.
std::string ProgramsEntry(const Module &module)
{
    std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + ProductCode(module);
    std::string entry;
    for (const char *name : {"DisplayName", "DisplayVersion", "Publisher"}) {
        DWORD type = 0;
        std::string data;
        if (!sandbox::ReadRegistry(key.c_str(), name, &type, &data)) return "";
        if (!data.empty() && data.back() == '\0') data.pop_back();
        entry += (entry.empty() ? "" : "|") + data;
    }
    return entry;
}
std::string ExpectedEntry(const Module &module)
{
    return std::string(module.title) + "|" + module.version + "|Brenmor Software";
}

// Where the package puts its one file.
std::string PackagedSetup(const Module &module)
{
    return sandbox::ProgramFilesDir() + "\\Brenmor Software\\" + module.title + "\\setup.exe";
}

std::string TranLangs() { return sandbox::ReadIni(sandbox::ConfigPath(), "Languages", "TranLangs"); }

// The module as one install of its setup leaves it: its files, its letter
// once, its install flag, its uninstall entry; and the package's file and
// installed-programs entry.
void ExpectInstalled(const Module &module)
{
    SCOPED_TRACE(module.name);
    for (const std::string &file : module.files)
        EXPECT_TRUE(sandbox::FileExists(sandbox::kDictionaryDir + file)) << file;
    std::string letters = TranLangs();
    EXPECT_EQ(std::count(letters.begin(), letters.end(), module.letter), 1) << letters;
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), module.section, "Install"), "1");
    EXPECT_TRUE(sandbox::FileExists(PackagedSetup(module)));
    EXPECT_EQ(ProgramsEntry(module), ExpectedEntry(module));
    EXPECT_TRUE(ProductInstalled(module));
    // The installed programs show the module's icon, which the installer
    // keeps a copy of.
    char icon[MAX_PATH] = "";
    DWORD size = sizeof icon;
    EXPECT_EQ(MsiGetProductInfoA(ProductCode(module).c_str(), INSTALLPROPERTY_PRODUCTICON, icon, &size), 0u);
    EXPECT_TRUE(sandbox::FileExists(icon)) << icon;
}

void ExpectRemoved(const Module &module)
{
    SCOPED_TRACE(module.name);
    for (const std::string &file : module.files)
        EXPECT_FALSE(sandbox::FileExists(sandbox::kDictionaryDir + file)) << file;
    EXPECT_EQ(TranLangs().find(module.letter), std::string::npos) << TranLangs();
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), module.section, "Install"), "0");
    EXPECT_FALSE(sandbox::FileExists(PackagedSetup(module)));
    EXPECT_EQ(ProgramsEntry(module), "");
    EXPECT_FALSE(ProductInstalled(module));
}

class Package : public ::testing::Test {
  protected:
    void SetUp() override
    {
        RemoveLeftovers();
        sandbox::Provision();
    }
    void TearDown() override { RemoveLeftovers(); }

    // A package a case left installed goes, without the product (so that no
    // setup runs), and the sandbox with it.
    static void RemoveLeftovers()
    {
        sandbox::Clean();
        for (const Module *module : kAll)
            if (ProductInstalled(*module)) {
                EXPECT_EQ(Remove(*module), 0u) << module->name;
            }
        sandbox::Clean();
    }
};

// What a deployment tool does first and last: install, repair after a
// dictionary file went missing, remove. The setup's own lines are in the
// installer's log, its brackets intact.
TEST_F(Package, InstallRepairRemove)
{
    ASSERT_EQ(Install(kGerman), 0u);
    ExpectInstalled(kGerman);
    EXPECT_EQ(TranLangs(), "ERG");
    std::string log = InstallerLog();
    EXPECT_NE(log.find("Quorin setup: running \"" + PackagedSetup(kGerman) + "\" /noboxes /log="), std::string::npos);
    EXPECT_NE(log.find("quorin.cfg [Languages] TranLangs: \"ER\" -> \"ERG\""), std::string::npos);
    EXPECT_NE(log.find("Quorin setup: setup.exe in ended with exit code 0"), std::string::npos);

    std::string deleted = std::string(sandbox::kDictionaryDir) + "mg.qd";
    ASSERT_TRUE(DeleteFileA(deleted.c_str()));
    EXPECT_EQ(Repair(kGerman), 0u);
    EXPECT_TRUE(sandbox::FileExists(deleted)) << "repair runs the setup again";
    ExpectInstalled(kGerman);

    EXPECT_EQ(Remove(kGerman), 0u);
    ExpectRemoved(kGerman);
    EXPECT_EQ(TranLangs(), "ER");
    EXPECT_NE(InstallerLog().find("Quorin setup: setup.exe un ended with exit code 0"), std::string::npos);
}

TEST_F(Package, TwoModulesSideBySideOneRemoved)
{
    sandbox::ProvisionFrenchModule();
    ASSERT_EQ(Install(kGerman), 0u);
    ASSERT_EQ(Install(kFrench), 0u);
    ExpectInstalled(kGerman);
    ExpectInstalled(kFrench);
    EXPECT_EQ(Remove(kGerman), 0u);
    ExpectRemoved(kGerman);
    ExpectInstalled(kFrench);
    EXPECT_EQ(TranLangs(), "ERF");
}

// The module removed the other way first (its setup's own removal, as the
// product's uninstall entry runs it); the package's removal then finds
// nothing to undo and ends with 0.
TEST_F(Package, RemovalAfterTheModuleWasRemovedTheOtherWay)
{
    ASSERT_EQ(Install(kGerman), 0u);
    testbed::RunResult un = testbed::RunProgram(PackagedSetup(kGerman), " un");
    ASSERT_EQ(un.exitCode, 0u);
    EXPECT_EQ(Remove(kGerman), 0u);
    ExpectRemoved(kGerman);
}

// A file the product holds open is replaced at the next restart: the
// package asks for it, and msiexec ends with 3010 without restarting.
TEST_F(Package, HeldDictionaryFileAsksForARestart)
{
    std::string held = std::string(sandbox::kDictionaryDir) + "vg.qd";
    testbed::WriteOldFile(held, "an older copy");
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Install(kGerman), 3010u);
    CloseHandle(holder);
    ExpectInstalled(kGerman);
    EXPECT_NE(InstallerLog().find("setup.exe in ended with exit code 3010"), std::string::npos);
}

// A setup that fails fails the package: 1603, the package's file rolled
// back, nothing registered, and the setup's reason in the installer's log.
TEST_F(Package, FailedSetupRollsThePackageBack)
{
    std::string unpacker = std::string(sandbox::kProductDir) + "unzip.dll";
    ASSERT_TRUE(DeleteFileA(unpacker.c_str()));
    EXPECT_EQ(Install(kGerman), 1603u);
    EXPECT_FALSE(sandbox::FileExists(PackagedSetup(kGerman)));
    EXPECT_EQ(ProgramsEntry(kGerman), "");
    EXPECT_FALSE(ProductInstalled(kGerman));
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), kGerman.section, "Install"), "0");
    std::string log = InstallerLog();
    EXPECT_NE(log.find("unzip.dll not loaded: error 126"), std::string::npos);
    EXPECT_NE(log.find("setup.exe in ended with exit code 1: "), std::string::npos);
}

// A later version over an earlier one: one entry, the later files, the
// module registered once, and no removal by the earlier package in between.
// Then the earlier package is refused over the later one.
TEST_F(Package, UpgradeAndDowngrade)
{
    // A file the module's section lists but neither payload has: only a
    // removal by the setup would take it away.
    sandbox::WriteModuleSection(kDatedLater.section, kDatedLater.title, "Dated", "D", {"dated.qd", "witness.qd"});
    ASSERT_EQ(Install(kDatedEarlier), 0u);
    ExpectInstalled(kDatedEarlier);
    std::string witness = std::string(sandbox::kDictionaryDir) + "witness.qd";
    ASSERT_TRUE(sandbox::WriteTextFile(witness, "listed, never installed"));
    std::string earlierSetup = sandbox::ReadFileBytes(PackagedSetup(kDatedEarlier));

    EXPECT_EQ(Install(kDatedLater), 0u);
    ExpectInstalled(kDatedLater);
    EXPECT_FALSE(ProductInstalled(kDatedEarlier));
    EXPECT_EQ(ProgramsEntry(kDatedEarlier), "");
    EXPECT_NE(sandbox::ReadFileBytes(PackagedSetup(kDatedLater)), earlierSetup) << "the later setup.exe";
    EXPECT_EQ(sandbox::ReadFileBytes(std::string(sandbox::kDictionaryDir) + "dated.qd").size(), 3000u);
    EXPECT_TRUE(sandbox::FileExists(witness)) << "the earlier package ran the setup's removal";

    EXPECT_EQ(Install(kDatedEarlier), 1603u);
    EXPECT_EQ(QueryPackage(kDatedEarlier, "SELECT `Description` FROM `LaunchCondition` WHERE "
                                          "`Condition`='NOT WIX_DOWNGRADE_DETECTED'"),
              "A later version of Quorin Dated Dictionary is already installed.");
    ExpectInstalled(kDatedLater);
    EXPECT_FALSE(ProductInstalled(kDatedEarlier));
}

// Without the product the installer's own check refuses the package before
// anything changes.
TEST_F(Package, RefusedWithoutTheProduct)
{
    for (const char *without : {"Options key", "product folder"}) {
        SCOPED_TRACE(without);
        if (without[0] == 'O')
            sandbox::DeleteRegistryKey(sandbox::kOptionsKey);
        else
            sandbox::RemoveTree(sandbox::kProductDir);
        std::string before = sandbox::Snapshot();
        EXPECT_EQ(Install(kGerman), 1603u);
        EXPECT_EQ(sandbox::Snapshot(), before);
        EXPECT_FALSE(sandbox::DirectoryExists(sandbox::ProgramFilesDir() + "\\Brenmor Software\\" + kGerman.title));
        EXPECT_EQ(ProgramsEntry(kGerman), "");
        EXPECT_EQ(InstallerLog().find("Quorin setup: running"), std::string::npos);
        sandbox::Provision();
    }
}

// Without the product the refusal speaks the user's language, as the
// installer picks it (UserLanguageID: any country's German, French, Russian
// or Ukrainian, else English) in both sequences: a full-UI install checks
// the launch conditions in the UI sequence, a basic-UI or silent one in the
// execute sequence. Then as a person sees it, in msiexec's box on a Russian
// and a Ukrainian Windows (basic UI: Wine's full-UI msiexec, started in
// another locale, once hung for minutes in a whole run of the suites).
TEST_F(Package, RefusedWithoutTheProductInTheUsersLanguage)
{
    sandbox::DeleteRegistryKey(sandbox::kOptionsKey);
    struct Case {
        LANGID language;
        const std::wstring &text;
    } const cases[] = {
        {0x0409, kEnglishNoProduct},   {0x040A, kEnglishNoProduct},   {0x0407, kGermanNoProduct},
        {0x0807, kGermanNoProduct},    {0x040C, kFrenchNoProduct},    {0x0C0C, kFrenchNoProduct},
        {0x0419, kRussianNoProduct},   {0x0819, kRussianNoProduct},   {0x0422, kUkrainianNoProduct},
        {0x0423, kEnglishNoProduct},  // Belarusian: Cyrillic, but no language the program speaks
    };
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    for (const char *sequence : {"InstallUISequence", "InstallExecuteSequence"})
        for (const Case &c : cases)
            EXPECT_EQ(NoProductMessage(kGerman, sequence, c.language), c.text)
                << sequence << ", UserLanguageID " << c.language;

    std::vector<std::wstring> boxes;
    EXPECT_EQ(MsiexecInLocale(localerun::kRussian, "/i \"" + PackagePath(kGerman) + "\" /qb", &boxes), 1603u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kRussianNoProduct);
    boxes.clear();
    EXPECT_EQ(MsiexecInLocale(localerun::kUkrainian, "/i \"" + PackagePath(kGerman) + "\" /qb", &boxes), 1603u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kUkrainianNoProduct);
    EXPECT_FALSE(ProductInstalled(kGerman));
}

}  // namespace
