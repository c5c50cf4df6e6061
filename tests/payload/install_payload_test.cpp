// Silent install runs of setup.exe, as far as the payload goes: where the
// five dictionary files land, which installed copies survive, and what a
// failing unpacker leaves behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "sandbox.h"
#include "testbed.h"

namespace {

using sandbox::kDictionaryDir;
using sandbox::kProductDir;

struct PayloadFile {
    const char *installedName;
    DWORD size;
};
const PayloadFile kPayload[] = {
    {"bg.qd", 27133}, {"gwg.qd", 1364}, {"mg.qd", 59577}, {"vg.qd", 950208}, {"tg.qd", 7486}};

// The time every payload entry carries: 2005-03-01 10:00:00 local time.
FILETIME PayloadTime()
{
    SYSTEMTIME local{2005, 3, 0, 1, 10, 0, 0, 0};
    SYSTEMTIME system;
    FILETIME universal{};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &system);
    SystemTimeToFileTime(&system, &universal);
    return universal;
}

void SetTime(const std::string &path, FILETIME time)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

// Name as stored (case included) and size, or "" when missing.
std::string Stored(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(path.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return "";
    FindClose(find);
    return std::string(found.cFileName) + " " + std::to_string(found.nFileSizeLow);
}

std::string Expected(const PayloadFile &file)
{
    return std::string(file.installedName) + " " + std::to_string(file.size);
}

// The snapshot without the work directory's lines: what a failed run must
// not have changed.
std::string StateOutsideWorkDir()
{
    std::istringstream lines(sandbox::Snapshot());
    std::string line, kept;
    while (std::getline(lines, line))
        if (line.rfind("file work\\", 0) != 0) kept += line + "\n";
    return kept;
}

class InstallPayload : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::Provision(); }
    void TearDown() override
    {
        SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RESULT", nullptr);
        for (const PayloadFile &file : kPayload)
            SetFileAttributesA((std::string(kDictionaryDir) + file.installedName).c_str(),
                               FILE_ATTRIBUTE_NORMAL);
        sandbox::Clean();
    }

    static void SetMod0(const char *value)
    {
        sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "mod0", value);
    }
    static std::string InstallFlag()
    {
        return sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install");
    }
    static void ExpectAllIn(const char *dir, const char *other, const std::string &what)
    {
        for (const PayloadFile &file : kPayload) {
            EXPECT_EQ(Stored(std::string(dir) + file.installedName), Expected(file)) << what;
            EXPECT_EQ(Stored(std::string(other) + file.installedName), "") << what;
        }
    }
};

TEST_F(InstallPayload, ASilentInstallPutsTheFiveFilesInPlace)
{
    testbed::RunResult run = testbed::RunSetup(" in");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.unexpected.empty());
    ExpectAllIn(kDictionaryDir, kProductDir, "default mod0");
    FILETIME stamp = PayloadTime();
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((std::string(kDictionaryDir) + "vg.qd").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_EQ(CompareFileTime(&found.ftLastWriteTime, &stamp), 0) << "the archive's time travels along";
    EXPECT_FALSE(sandbox::DirectoryExists(sandbox::WorkDir()));
    EXPECT_EQ(InstallFlag(), "1");
}

TEST_F(InstallPayload, TheFirstFileEntryChoosesTheDirectory)
{
    const std::pair<const char *, bool> cases[] = {
        {"DICTION\\bg.qd", true}, {"Diction\\x", true}, {"diction", false}, {"dictionary\\x.qd", false},
        {"vg.qd", false},         {"", false},          {nullptr, false},
    };
    for (const auto &c : cases) {
        sandbox::Provision();
        SetMod0(c.first);
        const char *shown = c.first ? c.first : "<missing>";
        testbed::RunResult run = testbed::RunSetup(" in");
        EXPECT_EQ(run.exitCode, 0u) << shown;
        EXPECT_TRUE(run.unexpected.empty()) << shown;
        if (c.second)
            ExpectAllIn(kDictionaryDir, kProductDir, shown);
        else
            ExpectAllIn(kProductDir, kDictionaryDir, shown);
    }
}

TEST_F(InstallPayload, NewerReadOnlyAndEqualCopies)
{
    std::string newer = std::string(kDictionaryDir) + "vg.qd";
    sandbox::WriteTextFile(newer, "installed later");
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME later;
    SystemTimeToFileTime(&now, &later);
    SetTime(newer, later);

    std::string equal = std::string(kDictionaryDir) + "mg.qd";
    sandbox::WriteTextFile(equal, "same time");
    SetTime(equal, PayloadTime());

    std::string locked = std::string(kDictionaryDir) + "bg.qd";
    sandbox::WriteTextFile(locked, "read-only and older");
    SYSTEMTIME old{2000, 1, 0, 1, 0, 0, 0, 0};
    FILETIME older;
    SystemTimeToFileTime(&old, &older);
    SetTime(locked, older);
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);

    testbed::RunResult run = testbed::RunSetup(" in");
    EXPECT_EQ(run.exitCode, 1u) << "the read-only copy could not be replaced";
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_EQ(sandbox::ReadFileBytes(newer), "installed later");
    EXPECT_EQ(sandbox::ReadFileBytes(equal), "same time") << "nothing is replaced when one file cannot be";
    EXPECT_EQ(sandbox::ReadFileBytes(locked), "read-only and older");
    EXPECT_FALSE(sandbox::FileExists(std::string(kDictionaryDir) + "tg.qd"));
    EXPECT_NE(InstallFlag(), "1") << "the run registers nothing";
    EXPECT_FALSE(sandbox::DirectoryExists(sandbox::WorkDir()));

    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
    run = testbed::RunSetup(" in");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(sandbox::ReadFileBytes(newer), "installed later");
    EXPECT_EQ(Stored(equal), "mg.qd 59577") << "equal times copy again";
    EXPECT_EQ(Stored(std::string(kDictionaryDir) + "tg.qd"), "tg.qd 7486");
    EXPECT_EQ(InstallFlag(), "1");
}

// A missing or failing unpacker: the box, exit code 1, and nothing copied
// or registered.
TEST_F(InstallPayload, AnUnpackerThatFailsStopsTheRunWithABox)
{
    struct Case {
        const char *what;
        void (*arrange)();
    };
    const Case cases[] = {
        {"no unzip.dll", [] { DeleteFileA((std::string(kProductDir) + "unzip.dll").c_str()); }},
        {"UnZip returns 1",
         [] {
             CopyFileA((sandbox::BinDir() + "fixtures\\fake_unzip.dll").c_str(),
                       (std::string(kProductDir) + "unzip.dll").c_str(), FALSE);
             SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RESULT", "1");
         }},
    };
    for (const Case &c : cases) {
        sandbox::Provision();
        c.arrange();
        std::string before = StateOutsideWorkDir();
        std::vector<testbed::WindowSeen> boxes;
        testbed::RunResult run =
            testbed::RunSetup(" in", 30000, [&](HWND window, const testbed::WindowSeen &seen) {
                boxes.push_back(seen);
                testbed::CloseWindowPolitely(window);
                return true;
            });
        SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RESULT", nullptr);
        EXPECT_EQ(run.exitCode, 1u) << c.what;
        ASSERT_EQ(boxes.size(), 1u) << c.what;
        EXPECT_EQ(boxes[0].text, "ExpandResource error.") << c.what;
        EXPECT_EQ(boxes[0].caption, "Quorin German Dictionary") << c.what;
        EXPECT_TRUE(boxes[0].exStyle & WS_EX_TOPMOST) << c.what << ": system-modal";
        EXPECT_TRUE(boxes[0].hasIcon) << c.what;
        EXPECT_EQ(StateOutsideWorkDir(), before) << c.what << ": nothing copied, nothing registered";
        sandbox::RemoveTree(sandbox::WorkDir());
    }
}

TEST_F(InstallPayload, AnUnpackerThatUnpacksNothingEndsWithoutRegistering)
{
    CopyFileA((sandbox::BinDir() + "fixtures\\fake_unzip.dll").c_str(),
              (std::string(kProductDir) + "unzip.dll").c_str(), FALSE);
    SetEnvironmentVariableA("QUORIN_FAKE_UNZIP_RESULT", "0");
    CreateDirectoryA(sandbox::WorkDir().c_str(), nullptr);
    CreateDirectoryA((sandbox::WorkDir() + "left.qd").c_str(), nullptr);
    std::string before = StateOutsideWorkDir();
    testbed::RunResult run = testbed::RunSetup(" in");
    EXPECT_TRUE(run.unexpected.empty()) << "no box: the run just ends";
    EXPECT_EQ(StateOutsideWorkDir(), before);
    EXPECT_EQ(InstallFlag(), "0");
}

// The payload resource's bytes in the program file at path.
std::string PayloadOf(const std::string &path)
{
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return "";
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(102), "ZIP");
    std::string bytes;
    if (found != nullptr)
        bytes.assign(static_cast<const char *>(LockResource(LoadResource(module, found))), SizeofResource(module, found));
    FreeLibrary(module);
    return bytes;
}

// Renames RCDATA 107, the payload's checksum, to 108 in a program file's
// bytes: the program then finds none, as after a tool stripped it. Ids stay
// in ascending order, as the resource lookup expects.
bool HideChecksum(std::string &image)
{
    auto at = [&](size_t offset) { return reinterpret_cast<char *>(&image[0]) + offset; };
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(at(0));
    const auto *file = reinterpret_cast<const IMAGE_FILE_HEADER *>(at(dos->e_lfanew + 4));
    const char *optional = reinterpret_cast<const char *>(file + 1);
    const IMAGE_DATA_DIRECTORY &resources =
        *reinterpret_cast<const WORD *>(optional) == IMAGE_NT_OPTIONAL_HDR64_MAGIC
            ? reinterpret_cast<const IMAGE_OPTIONAL_HEADER64 *>(optional)->DataDirectory[2]
            : reinterpret_cast<const IMAGE_OPTIONAL_HEADER32 *>(optional)->DataDirectory[2];
    const auto *sections = reinterpret_cast<const IMAGE_SECTION_HEADER *>(optional + file->SizeOfOptionalHeader);
    size_t base = 0;
    for (WORD i = 0; i < file->NumberOfSections; ++i)
        if (sections[i].VirtualAddress == resources.VirtualAddress) base = sections[i].PointerToRawData;
    if (base == 0) return false;
    // The entries of a directory follow its header; the first level is the
    // type, the second the id.
    auto find = [&](size_t directory, WORD id) -> IMAGE_RESOURCE_DIRECTORY_ENTRY * {
        const auto *header = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY *>(at(base + directory));
        auto *entries = reinterpret_cast<IMAGE_RESOURCE_DIRECTORY_ENTRY *>(at(base + directory + sizeof *header));
        for (int i = 0; i < header->NumberOfNamedEntries + header->NumberOfIdEntries; ++i)
            if (!entries[i].NameIsString && entries[i].Id == id) return &entries[i];
        return nullptr;
    };
    IMAGE_RESOURCE_DIRECTORY_ENTRY *type = find(0, 10);  // RT_RCDATA
    IMAGE_RESOURCE_DIRECTORY_ENTRY *checksum = type ? find(type->OffsetToDirectory, 107) : nullptr;
    if (checksum == nullptr || find(type->OffsetToDirectory, 108) != nullptr) return false;
    checksum->Id = 108;
    return true;
}

// Copies damaged on their way, made from the built program: one byte of the
// payload flipped, and the recorded checksum taken out. Each fails before
// the archive is written, with the box (or its log line under /noboxes) and
// exit code 1, and changes nothing; the untouched program then installs.
TEST_F(InstallPayload, ADamagedCopyChangesNothing)
{
    const std::string dir = "C:\\bed\\damaged\\";
    const std::string flipped = dir + "flipped.exe", unchecked = dir + "unchecked.exe", log = dir + "run.log";
    sandbox::RemoveTree(dir);
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::string program = sandbox::ReadFileBytes(testbed::SetupPath());
    std::string payload = PayloadOf(testbed::SetupPath());
    size_t at = payload.empty() ? std::string::npos : program.find(payload);
    ASSERT_NE(at, std::string::npos);
    program[at + payload.size() / 2] ^= 0x10;
    ASSERT_TRUE(sandbox::WriteTextFile(flipped, program));
    program[at + payload.size() / 2] ^= 0x10;
    ASSERT_TRUE(HideChecksum(program));
    ASSERT_TRUE(sandbox::WriteTextFile(unchecked, program));
    ASSERT_EQ(PayloadOf(unchecked), payload) << "only the checksum went";

    struct Case {
        const std::string &program;
        const char *options;
        const char *logged;
    };
    const Case cases[] = {{flipped, " /log=", ", expected "}, {unchecked, " /noboxes /log=", "payload checksum missing"}};
    for (const Case &c : cases) {
        DeleteFileA(log.c_str());
        std::string before = sandbox::Snapshot();
        std::vector<testbed::WindowSeen> boxes;
        testbed::RunResult run = testbed::RunProgram(
            c.program, c.options + log + " in", 30000, [&](HWND window, const testbed::WindowSeen &seen) {
                boxes.push_back(seen);
                testbed::CloseWindowPolitely(window);
                return true;
            });
        std::string text = sandbox::ReadFileBytes(log);
        EXPECT_EQ(run.exitCode, 1u) << c.program;
        EXPECT_EQ(sandbox::Snapshot(), before) << c.program << ": nothing copied, nothing registered";
        EXPECT_NE(text.find(c.logged), std::string::npos) << text;
        EXPECT_EQ(text.find("wrote "), std::string::npos) << text;
        if (c.program == flipped) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, "ExpandResource error.");
            // The computed value comes first; the two must differ.
            size_t end = text.find(", expected "), start = text.rfind(' ', end - 1) + 1;
            size_t next = text.find_first_of("\r\n", end);
            EXPECT_NE(text.substr(start, end - start), text.substr(end + 11, next - end - 11)) << text;
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_NE(text.find("box suppressed: caption \"Quorin German Dictionary\", text \"ExpandResource error.\""),
                      std::string::npos) << text;
        }
    }
    sandbox::RemoveTree(dir);

    testbed::RunResult run = testbed::RunSetup(" in");
    EXPECT_EQ(run.exitCode, 0u) << "the untouched program installs";
    EXPECT_EQ(InstallFlag(), "1");
}

}  // namespace
