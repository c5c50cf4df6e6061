// The options of unattended runs as the command line gives them, and the
// log they write: bounded lines, appended, and boxes turned into lines.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <string>

#include "fs/file_ops.h"
#include "run/run_options.h"
#include "sandbox.h"
#include "support/error_box.h"
#include "support/logged_writes.h"
#include "support/run_log.h"
#include "testbed.h"

namespace {

struct OptionsCase {
    const char *commandLine;
    bool silent;
    bool removal;
    const char *logPath;
    bool noBoxes;
    unsigned ignored;
};

// Options never change the run a tail chooses: each tail of the run-mode
// table, with options in front, still selects its run.
TEST(RunRequest, OptionsBeforeEveryTail)
{
    const std::string longPath(kPathCapacity, 'p');
    const std::string tooLong = "setup.exe /log=C:\\" + longPath + " in";
    const OptionsCase cases[] = {
        {"\"C:\\x\\setup.exe\" /log=C:\\logs\\de.log in", true, false, "C:\\logs\\de.log", false, 0},
        {"setup.exe /noboxes /log=\"C:\\my logs\\de.log\" un", true, true, "C:\\my logs\\de.log", true, 0},
        {"\"C:\\Program Files\\x\\setup.exe\" /LOG=c:\\a.log /NoBoxes UN", true, true, "c:\\a.log", true, 0},
        {"setup.exe /log=a.log /un", true, false, "a.log", false, 0},
        {"setup.exe /noboxes IN", true, false, "", true, 0},
        {"setup.exe /log=a.log -install-in", true, false, "a.log", false, 0},
        {"\"C:\\x\\setup.exe\" /log=a.log", false, false, "a.log", false, 0},
        {"\"C:\\x\\setup.exe\" /noboxes /log=\"C:\\a b.log\" ", false, false, "C:\\a b.log", true, 0},
        // The last word of a silent line is its tail, even when it looks
        // like an option: the run is what it was without options.
        {"setup.exe /log=C:\\logs\\din", true, false, "", false, 0},
        // Malformed options are passed over; the rest still count.
        {"setup.exe /log= /noboxes in", true, false, "", true, 1},
        {"setup.exe /log=\"\" un", true, true, "", false, 1},
        {"setup.exe /log=\"C:\\open in", true, false, "", false, 1},
        {"setup.exe /bogus plain /log=b.log in", true, false, "b.log", false, 2},
        {"setup.exe /log=first.log /log=second.log un", true, true, "first.log", false, 1},
        {tooLong.c_str(), true, false, "", false, 1},
        // The program path is never an option, quoted or not.
        {"/log=x.log in", true, false, "", false, 0},
        {"\"/noboxes\" un", true, true, "", false, 0},
        {"setup.exe", false, false, "", false, 0},
        {"", false, false, "", false, 0},
    };
    for (const OptionsCase &c : cases) {
        RunRequest request;
        std::memset(&request, 0x5A, sizeof request);
        ReadRunRequest(c.commandLine, &request);
        EXPECT_EQ(request.Silent, c.silent) << c.commandLine;
        EXPECT_EQ(request.Removal, c.removal) << c.commandLine;
        EXPECT_STREQ(request.LogPath, c.logPath) << c.commandLine;
        EXPECT_EQ(request.NoBoxes, c.noBoxes) << c.commandLine;
        EXPECT_EQ(request.IgnoredCount, c.ignored) << c.commandLine;
    }
}

std::string Format(size_t capacity, const char *format, ...)
{
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    va_list args;
    va_start(args, format);
    size_t length = FormatLogText(buffer, capacity, format, args);
    va_end(args);
    for (size_t i = capacity; i < sizeof buffer; ++i)
        if (buffer[i] != '#') return "wrote past its capacity";
    if (length != std::strlen(buffer)) return "length differs from the text";
    return buffer;
}

TEST(LogFormat, BoundedOneLineText)
{
    EXPECT_EQ(Format(64, "%s|%c|%d|%u|%ld|%lu|%%", "text", 'x', -12, 34u, -2147483647L - 1, 4294967295UL),
              "text|x|-12|34|-2147483648|4294967295|%");
    EXPECT_EQ(Format(64, "%04u-%02u.%03u", 7u, 123u, 5u), "0007-123.005");
    EXPECT_EQ(Format(64, "[%s]", "two\r\nlines\tand a tab"), "[two  lines and a tab]");
    EXPECT_EQ(Format(64, "[%s]", static_cast<const char *>(nullptr)), "[]");
    EXPECT_EQ(Format(10, "%s", "exactly 9"), "exactly 9");
    EXPECT_EQ(Format(10, "%s", "ten chars!"), "ten ch...");
    EXPECT_EQ(Format(10, "%u", 1234567890u), "123456...");
    EXPECT_EQ(Format(3, "%s", "abc"), "ab");
    EXPECT_EQ(Format(1, "%s", "abc"), "");
    EXPECT_EQ(Format(64, "50%"), "50");
}

class RunLog : public ::testing::Test {
protected:
    const std::string dir_ = "C:\\run-log-test\\";
    void SetUp() override
    {
        sandbox::RemoveTree(dir_);
        CreateDirectoryA(dir_.c_str(), nullptr);
    }
    void TearDown() override
    {
        CloseRunLog();
        SuppressErrorBoxes(false);
        ResetErrorBoxShown();
        sandbox::RemoveTree(dir_);
    }
};

TEST_F(RunLog, AppendsAndNeverTruncates)
{
    std::string path = dir_ + "shared.log";
    sandbox::WriteTextFile(path, "earlier run\r\n");
    ASSERT_TRUE(OpenRunLog(path.c_str()));
    // A second writer of the same file, as a parallel run would be.
    HANDLE other = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    SetLastError(1234);
    LogEvent("first %d", 1);
    EXPECT_EQ(GetLastError(), 1234u) << "logging keeps the caller's last error";
    DWORD written = 0;
    WriteFile(other, "other run\r\n", 11, &written, nullptr);
    LogEvent("second");
    CloseHandle(other);
    CloseRunLog();

    std::string text = sandbox::ReadFileBytes(path);
    ASSERT_EQ(text.rfind("earlier run\r\n", 0), 0u) << text;
    size_t first = text.find(" first 1\r\n");
    size_t otherRun = text.find("other run\r\n");
    size_t second = text.find(" second\r\n");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_LT(first, otherRun) << text;
    EXPECT_LT(otherRun, second) << text;
}

// The one box with a caption of its own, and text over three lines: in an
// unattended run it is a single log line, and still fails the run.
TEST_F(RunLog, ASuppressedBoxIsOneLineAndStillCounts)
{
    std::string path = dir_ + "boxes.log";
    ASSERT_TRUE(OpenRunLog(path.c_str()));
    SuppressErrorBoxes(true);
    ResetErrorBoxShown();
    char bad[MAX_PATH] = "C:\\run-log-test\\bad|name\\";
    std::vector<testbed::WindowSeen> boxes;
    {
        testbed::BoxWatcher watcher;
        EXPECT_FALSE(EnsureDirectoryTree(bad));
        Sleep(200);
        boxes = watcher.Seen();
    }
    CloseRunLog();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(ErrorBoxShown());
    std::string text = sandbox::ReadFileBytes(path);
    std::string expected = " box suppressed: caption \"BManager\", text \"C:\\run-log-test\\bad|name  "
                           "Directory cann't be created.  Error ";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

// The logged INI and registry writes share one line each between success
// and failure; a failed one ends in " failed: error N", with the write's own
// error (for the registry its status, which the call returns instead of
// setting the last error).
TEST_F(RunLog, AFailedChangeEndsInItsError)
{
    std::string path = dir_ + "changes.log";
    ASSERT_TRUE(OpenRunLog(path.c_str()));
    std::string ini = dir_ + "written.ini";
    std::string unwritable = dir_ + "missing\\unwritable.ini";
    EXPECT_TRUE(WriteProfileText("Section", "Key", "new", ini.c_str()));
    EXPECT_FALSE(WriteProfileText("Section", "Key", "new", unwritable.c_str()));

    const char *subKey = "Software\\QuorinRunLogTest";
    RegDeleteKeyA(HKEY_CURRENT_USER, subKey);
    HKEY created = nullptr, readOnly = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    EXPECT_EQ(SetRegistryText(created, "Written", "text"), ERROR_SUCCESS);
    LONG refused = SetRegistryText(readOnly, "Refused", "text");
    EXPECT_NE(refused, ERROR_SUCCESS);
    RegCloseKey(readOnly);
    RegCloseKey(created);
    RegDeleteKeyA(HKEY_CURRENT_USER, subKey);
    CloseRunLog();

    std::string text = sandbox::ReadFileBytes(path);
    EXPECT_NE(text.find(" ini " + ini + " [Section] Key: \"\" -> \"new\"\r\n"), std::string::npos) << text;
    size_t failed = text.find(" ini " + unwritable + " [Section] Key: \"\" -> \"new\" failed: error ");
    ASSERT_NE(failed, std::string::npos) << text;
    EXPECT_TRUE(isdigit(static_cast<unsigned char>(text[text.find("error ", failed) + 6]))) << text;
    EXPECT_NE(text.find(" registry Written: (missing) -> \"text\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" registry Refused: (missing) -> \"text\" failed: error " + std::to_string(refused) + "\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
}

}  // namespace
