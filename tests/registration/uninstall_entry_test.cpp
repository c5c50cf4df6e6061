// RegisterUninstallEntry in-process against the sandbox's InstallShield
// information folder. The program's own file is the test executable here
// (or a library loaded on purpose, where a test needs another own path).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "context/install_context.h"
#include "registration/uninstall_entry.h"
#include "sandbox.h"
#include "support/error_box.h"
#include "support/text.h"
#include "testbed.h"

namespace {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kUnrelatedEntry[] = "{0B1C2D3E-4F50-6172-8394-A5B6C7D8E9F0}";
const char kTitle[] = "Quorin German Dictionary";
const char kLongBase[] = "C:\\bed\\regtest";

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

std::string OwnPath()
{
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, length);
}
std::string FileName(const std::string &path) { return path.substr(path.find_last_of('\\') + 1); }

bool IsGuidName(const std::string &name)
{
    if (name.size() != 38 || name.front() != '{' || name.back() != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        char c = name[i];
        bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

class UninstallEntry : public ::testing::Test {
  protected:
    void SetUp() override
    {
        saved_ = sandbox::ReadRegistry(kCurrentVersionKey, "ProgramFilesDir", &savedType_, &savedData_);
        ASSERT_TRUE(saved_);
        sandbox::Provision();
        ResetInstallContext();
        ResetErrorBoxShown();
        CopyText(Install().ModuleAppName, kNameCapacity, sandbox::kAppName);
        CopyText(Install().Title, kTitleCapacity, kTitle);
        Handles().Instance = GetModuleHandleA(nullptr);
        installShield_ = sandbox::InstallShieldDir();
    }
    void TearDown() override
    {
        if (saved_)
            sandbox::WriteRegistryBinary(kCurrentVersionKey, "ProgramFilesDir", savedData_, savedType_);
        if (library_) FreeLibrary(library_);
        testbed::RemoveDeepTree(kLongBase);
        sandbox::Clean();
    }

    void SetProgramFilesDir(const std::string &text)
    {
        sandbox::WriteRegistryString(kCurrentVersionKey, "ProgramFilesDir", text);
    }

    // Subfolders of folder (which ends with a backslash) other than the
    // sandbox's unrelated entry.
    static std::vector<std::string> NewEntries(const std::string &folder)
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            std::string name = found.cFileName;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsGuidName(name) &&
                name != kUnrelatedEntry)
                names.push_back(name);
        } while (FindNextFileA(find, &found));
        FindClose(find);
        return names;
    }

    // Runs the operation with a watcher that records and closes its boxes.
    std::vector<testbed::WindowSeen> Register()
    {
        testbed::BoxWatcher watcher;
        RegisterUninstallEntry();
        return watcher.Seen();
    }

    void ExpectOneEntryFor(const std::string &folder, const std::string &ownPath)
    {
        std::vector<std::string> entries = NewEntries(folder);
        ASSERT_EQ(entries.size(), 1u);
        std::string entry = folder + entries[0] + "\\";
        EXPECT_EQ(sandbox::ReadIni(entry + "setup.ini", "Startup", "AppName"), sandbox::kAppName);
        EXPECT_EQ(sandbox::ReadIni(entry + "setup.ini", "Startup", "ExeName"), FileName(ownPath));
        std::string copy = sandbox::ReadFileBytes(entry + FileName(ownPath));
        EXPECT_FALSE(copy.empty());
        EXPECT_TRUE(copy == sandbox::ReadFileBytes(ownPath));
    }

    void AddEntry(const std::string &name, const char *appName)
    {
        std::string folder = installShield_ + name + "\\";
        CreateDirectoryA(folder.c_str(), nullptr);
        if (appName) sandbox::WriteIni(folder + "setup.ini", "Startup", "AppName", appName);
    }

    std::string installShield_;
    HMODULE library_ = nullptr;

  private:
    bool saved_ = false;
    DWORD savedType_ = 0;
    std::string savedData_;
};

TEST_F(UninstallEntry, MadeOnceAcrossTwoInstalls)
{
    EXPECT_TRUE(Register().empty());
    ExpectOneEntryFor(installShield_, OwnPath());
    EXPECT_TRUE(Register().empty());
    EXPECT_EQ(NewEntries(installShield_).size(), 1u);
    EXPECT_FALSE(ErrorBoxShown());
}

TEST_F(UninstallEntry, MatchedWithoutCase)
{
    AddEntry("Existing", "QUORIN german Dictionary");
    EXPECT_TRUE(Register().empty());
    EXPECT_TRUE(NewEntries(installShield_).empty());
}

TEST_F(UninstallEntry, PassesOverDotFoldersFilesAndFoldersWithoutSetupIni)
{
    AddEntry(".quorin", sandbox::kAppName);
    AddEntry("NoSetupIni", nullptr);
    AddEntry("OtherProduct", "Quorin German Dictionary 2");
    sandbox::WriteTextFile(installShield_ + "setup.ini", "[Startup]\r\nAppName=Quorin German Dictionary\r\n");
    EXPECT_TRUE(Register().empty());
    ExpectOneEntryFor(installShield_, OwnPath());
}

TEST_F(UninstallEntry, FolderWithoutSubfolders)
{
    sandbox::RemoveTree(installShield_);
    CreateDirectoryA(installShield_.c_str(), nullptr);
    EXPECT_TRUE(Register().empty());
    ExpectOneEntryFor(installShield_, OwnPath());
}

TEST_F(UninstallEntry, MissingFolderIsNotCreated)
{
    sandbox::RemoveTree(installShield_);
    EXPECT_TRUE(Register().empty());
    EXPECT_FALSE(sandbox::DirectoryExists(installShield_));
}

TEST_F(UninstallEntry, ProgramFilesDirWithVariables)
{
    std::string programFiles = sandbox::ProgramFilesDir();
    SetEnvironmentVariableA("QUORIN_TEST_PF", programFiles.c_str());
    SetProgramFilesDir("%QUORIN_TEST_PF%");
    EXPECT_TRUE(Register().empty());
    ExpectOneEntryFor(installShield_, OwnPath());

    // An expansion that names no directory leaves the text as it is, which
    // names nothing either.
    sandbox::Provision();
    SetEnvironmentVariableA("QUORIN_TEST_PF", "C:\\no such folder");
    SetProgramFilesDir("%QUORIN_TEST_PF%");
    EXPECT_TRUE(Register().empty());
    EXPECT_TRUE(NewEntries(installShield_).empty());
    SetEnvironmentVariableA("QUORIN_TEST_PF", nullptr);
}

TEST_F(UninstallEntry, EntryPathTooLongShowsTheCreateDirectoryBox)
{
    // A Program Files directory of 195 characters: the information folder
    // fits, a GUID folder inside it would not.
    std::string programFiles = std::string(kLongBase) + "\\" + std::string(180, 'p');
    CreateDirectoryA(kLongBase, nullptr);
    ASSERT_TRUE(CreateDirectoryA(programFiles.c_str(), nullptr));
    std::string folder = programFiles + "\\InstallShield Installation Information\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    SetProgramFilesDir(programFiles);

    std::vector<testbed::WindowSeen> boxes = Register();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "CreateDirectory error.");
    EXPECT_EQ(boxes[0].caption, kTitle);
    EXPECT_TRUE(boxes[0].errorIcon);
    EXPECT_TRUE(NewEntries(folder).empty());
}

TEST_F(UninstallEntry, SetupIniPathTooLongIsPassedOver)
{
    // A subfolder whose setup.ini path takes 260 characters would match, but
    // cannot be read within a path buffer; the new entry still fits.
    std::string programFiles = std::string(kLongBase) + "\\" + std::string(135, 'p');
    std::string folder = programFiles + "\\InstallShield Installation Information\\";
    std::string longName(260 - folder.size() - 10, 'n');
    CreateDirectoryA(kLongBase, nullptr);
    CreateDirectoryA(programFiles.c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::wstring longFolder = L"\\\\?\\" + Wide(folder + longName);
    ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr));
    // The profile functions refuse such a path too: write the file itself.
    HANDLE ini = CreateFileW((longFolder + L"\\setup.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             0, nullptr);
    ASSERT_NE(ini, INVALID_HANDLE_VALUE);
    std::string content = std::string("[Startup]\r\nAppName=") + sandbox::kAppName + "\r\n";
    DWORD written = 0;
    WriteFile(ini, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(ini);
    SetProgramFilesDir(programFiles);

    EXPECT_TRUE(Register().empty());
    ExpectOneEntryFor(folder, OwnPath());
}

TEST_F(UninstallEntry, OwnPathOverTheLimitMakesNoEntry)
{
    // An own path that no path buffer holds cannot be copied.
    library_ = testbed::LoadDeepCopy(sandbox::BinDir() + "q3msg.dll", kLongBase);
    ASSERT_NE(library_, nullptr);
    Handles().Instance = library_;

    std::vector<testbed::WindowSeen> boxes = Register();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "CopyFile error.");
    EXPECT_TRUE(NewEntries(installShield_).empty());
}

TEST_F(UninstallEntry, FailedCopyLeavesFolderAndSetupIni)
{
    // The own file is gone by the time it is copied.
    std::string library = std::string(kLongBase) + "\\own.dll";
    CreateDirectoryA(kLongBase, nullptr);
    ASSERT_TRUE(CopyFileA((sandbox::BinDir() + "q3msg.dll").c_str(), library.c_str(), FALSE));
    library_ = LoadLibraryA(library.c_str());
    ASSERT_NE(library_, nullptr);
    // Renamed away where the platform allows it for a loaded library, else
    // held open without sharing so that nobody can read it.
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!MoveFileA(library.c_str(), (library + ".moved").c_str())) {
        held = CreateFileA(library.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE)
            GTEST_SKIP() << "a loaded library can be neither renamed nor locked here";
    }
    Handles().Instance = library_;

    std::vector<testbed::WindowSeen> boxes = Register();
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "CopyFile error.");
    EXPECT_EQ(boxes[0].caption, kTitle);
    std::vector<std::string> entries = NewEntries(installShield_);
    ASSERT_EQ(entries.size(), 1u);
    std::string entry = installShield_ + entries[0] + "\\";
    EXPECT_EQ(sandbox::ReadIni(entry + "setup.ini", "Startup", "AppName"), sandbox::kAppName);
    EXPECT_EQ(sandbox::ReadIni(entry + "setup.ini", "Startup", "ExeName"), "own.dll");
    EXPECT_FALSE(sandbox::FileExists(entry + "own.dll"));
}

} // namespace
