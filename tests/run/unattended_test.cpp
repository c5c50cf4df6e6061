// Unattended runs of setup.exe: with /noboxes a silent run's boxes become
// log lines and the run still fails as it would have; a log reads back as
// the run's events in order; a log that cannot be written changes nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "sandbox.h"
#include "testbed.h"

namespace {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kLogDir[] = "C:\\bed\\unattended logs\\";  // a space, so the option needs its quotes
const char kLongProgramFiles[] = "C:\\bed\\unattended-pf";

std::string LogPath() { return std::string(kLogDir) + "de.log"; }
std::string Options() { return " /noboxes /log=\"" + LogPath() + "\""; }

class Unattended : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = sandbox::ReadRegistry(kCurrentVersionKey, "ProgramFilesDir", &savedType_, &savedData_);
        ASSERT_TRUE(saved_);
        sandbox::Provision();
        sandbox::RemoveTree(kLogDir);
        CreateDirectoryA(kLogDir, nullptr);
    }
    void TearDown() override
    {
        if (saved_) sandbox::WriteRegistryBinary(kCurrentVersionKey, "ProgramFilesDir", savedData_, savedType_);
        sandbox::RemoveTree(kLongProgramFiles);
        SetFileAttributesA(LogPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        sandbox::RemoveTree(kLogDir);
        sandbox::Clean();
    }

    static void InstallFiles()
    {
        for (const char *name : {"bg.qd", "gwg.qd", "mg.qd", "vg.qd", "tg.qd"})
            sandbox::WriteTextFile(std::string(sandbox::kDictionaryDir) + name, "dictionary data");
    }

    bool saved_ = false;
    DWORD savedType_ = 0;
    std::string savedData_;
};

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Each event is found after the one before it; "" when all are, else the
// first one missing.
std::string FirstMissingInOrder(const std::string &log, const std::vector<std::string> &events)
{
    size_t at = 0;
    for (const std::string &event : events) {
        size_t found = log.find(event, at);
        if (found == std::string::npos) return event;
        at = found + event.size();
    }
    return "";
}

TEST_F(Unattended, EveryBoxOfASilentRunBecomesALogLine)
{
    struct Case {
        const char *tail;
        void (*arrange)();
        const char *caption;
        const char *text;
    };
    const Case cases[] = {
        {" un", [] { DeleteFileA(sandbox::ModuleInfoPath().c_str()); }, "Quorin", "File quorin.inf not found."},
        {" in", [] { DeleteFileA((std::string(sandbox::kProductDir) + "unzip.dll").c_str()); },
         "Quorin German Dictionary", "ExpandResource error."},
        // A Program Files folder so deep that no entry folder fits in it.
        {" in",
         [] {
             std::string programFiles = std::string(kLongProgramFiles) + "\\" + std::string(170, 'p');
             CreateDirectoryA(kLongProgramFiles, nullptr);
             CreateDirectoryA(programFiles.c_str(), nullptr);
             CreateDirectoryA((programFiles + "\\InstallShield Installation Information").c_str(), nullptr);
             sandbox::WriteRegistryString(kCurrentVersionKey, "ProgramFilesDir", programFiles);
         },
         "Quorin German Dictionary", "CreateDirectory error."},
    };
    for (const Case &c : cases) {
        sandbox::Provision();
        InstallFiles();
        c.arrange();
        DeleteFileA(LogPath().c_str());
        testbed::RunResult run = testbed::RunSetup(Options() + c.tail);
        EXPECT_FALSE(run.timedOut) << c.text;
        EXPECT_TRUE(run.unexpected.empty()) << c.text << ": no box at all";
        EXPECT_EQ(run.exitCode, 1u) << c.text;
        std::string log = sandbox::ReadFileBytes(LogPath());
        std::string line = std::string("box suppressed: caption \"") + c.caption + "\", text \"" + c.text + "\"";
        EXPECT_EQ(FirstMissingInOrder(log, {line, "end: exit code 1 after "}), "") << log;
        sandbox::WriteRegistryBinary(kCurrentVersionKey, "ProgramFilesDir", savedData_, savedType_);
    }
}

TEST_F(Unattended, AnInstallAndARemovalReadAsTheirEventsInOneFile)
{
    sandbox::WriteTextFile(LogPath(), "an earlier line\r\n");
    std::string quoted = " /log=\"" + LogPath() + "\"";
    ASSERT_EQ(testbed::RunSetup(quoted + " in").exitCode, 0u);
    ASSERT_EQ(testbed::RunSetup(Options() + " un").exitCode, 0u);
    std::string log = sandbox::ReadFileBytes(LogPath());
    std::string product = sandbox::kProductDir;
    std::string dictionary = sandbox::kDictionaryDir;
    std::string work = sandbox::WorkDir();
    std::string config = "ini " + sandbox::ConfigPath() + " [Languages] ";
    std::string flag = "ini " + sandbox::ModuleInfoPath() + " [German Dictionary] Install: ";
    EXPECT_EQ(FirstMissingInOrder(
                  log, {"an earlier line\r\n",
                        // The install.
                        "start: " + testbed::SetupPath() + ", version 1.0.0.1", "command line: \"",
                        quoted + " in\r\n", "mode: silent install",
                        "context: product " + product + ", dictionary " + dictionary + ", work " + work,
                        "quorin.inf in use: " + sandbox::ModuleInfoPath(), "stage ExpandResource started",
                        "wrote " + work + "quorin.zip", "UnZip of " + work + "quorin.zip returned 0",
                        "stage ExpandResource succeeded", "stage DeployModuleFiles started",
                        "copied " + work + "bg.qd to " + dictionary + "bg.qd", "stage DeployModuleFiles succeeded",
                        "stage RegisterLanguage started", config + "TranLangs: \"ER\" -> \"ERG\"",
                        config + "Language3: \"\" -> \"German\"", "registry TranLangs: \"ER\" -> \"ERG\"",
                        "registry Language3: (missing) -> \"German\"",
                        "registry Directions: \"ER:RE:\" -> \"ER:RE:EG:GE:RG:GR:\"",
                        "stage RegisterUninstallEntry started", "created uninstall entry folder ",
                        "[Startup] AppName: \"\" -> \"Quorin German Dictionary\"", "stage MarkInstallState started",
                        flag + "\"0\" -> \"1\"", "stage removing the work directory started",
                        "deleted " + work + "quorin.zip", "end: exit code 0 after ",
                        // The removal, appended.
                        "start: ", "mode: silent removal", "boxes suppressed", "stage deleting the module's files",
                        "stage UnregisterLanguage started",
                        config + "TranLangs: \"ERG\" -> \"ER\"", config + "Language3: \"German\" -> (deleted)",
                        "registry Language3: \"German\" -> (deleted)", "registry Directions: ",
                        // Deleted once the run has done everything else.
                        flag + "\"1\" -> \"0\"", "deleted " + dictionary + "bg.qd", "end: exit code 0 after "}),
              "")
        << log;
    // Every line but the earlier one: the local time to the millisecond,
    // then the event.
    std::vector<std::string> lines = Lines(log);
    ASSERT_GT(lines.size(), 40u);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        ASSERT_GT(line.size(), 25u) << line;
        EXPECT_TRUE(line[4] == '-' && line[7] == '-' && line[10] == ' ' && line[13] == ':' && line[19] == '.' &&
                    line[23] == ' ' && line.back() == '\r')
            << line;
    }
}

TEST_F(Unattended, ALogThatCannotBeWrittenChangesNothing)
{
    InstallFiles();
    testbed::RunResult plain = testbed::RunSetup(" un");
    ASSERT_EQ(plain.exitCode, 0u);
    std::string expected = sandbox::Snapshot();

    sandbox::WriteTextFile(LogPath(), "read-only");
    SetFileAttributesA(LogPath().c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string unusable[] = {" /log=\"" + LogPath() + "\"", " /noboxes /log=C:\\bed\\no-such-folder\\x.log",
                                    " /log=" + std::string(kLogDir, sizeof kLogDir - 2), " /log= /bogus"};
    for (const std::string &options : unusable) {
        sandbox::Provision();
        InstallFiles();
        testbed::RunResult run = testbed::RunSetup(options + " un");
        EXPECT_EQ(run.exitCode, plain.exitCode) << options;
        EXPECT_TRUE(run.unexpected.empty()) << options;
        EXPECT_EQ(sandbox::Snapshot(), expected) << options;
    }
    EXPECT_EQ(sandbox::ReadFileBytes(LogPath()), "read-only");
}

// /noboxes does nothing in an interactive run: a person is there to answer.
TEST_F(Unattended, AnInteractiveRunStillShowsItsBoxes)
{
    DeleteFileA((std::string(sandbox::kProductDir) + "unzip.dll").c_str());
    std::vector<std::string> seen;
    char closing[512] = "";
    testbed::RunResult run = testbed::RunSetup(Options(), 60000, [&](HWND window, const testbed::WindowSeen &w) {
        seen.push_back(w.text.empty() ? w.caption : w.text);
        if (seen.size() == 3) GetDlgItemTextA(window, 1000, closing, sizeof closing);
        // Start in the first dialog; OK in the box and the closing dialog.
        SendMessageA(GetDlgItem(window, seen.size() == 1 ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
        if (!w.text.empty()) testbed::CloseWindowPolitely(window);
        return true;
    });
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(seen, (std::vector<std::string>{"German Dictionary Setup", "ExpandResource error.",
                                              "German Dictionary Setup"}));
    // The closing form does not claim the success the exit code denies.
    EXPECT_STREQ(closing, "Quorin German Dictionary was not installed completely. Run this setup again; if it "
                          "fails again, run it with /log=PATH to see why.");
    EXPECT_EQ(FirstMissingInOrder(sandbox::ReadFileBytes(LogPath()),
                                  {"mode: interactive install", "/noboxes ignored: interactive run",
                                   "setup dialog: Start", "box shown: caption \"Quorin German Dictionary\"",
                                   "box closed", "closing form: failure text", "end: exit code 1 after "}),
              "");
}

}  // namespace
