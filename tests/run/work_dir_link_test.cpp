// A work folder that is really a link elsewhere must never be emptied or
// written through. Windows removes a link without touching its target, and
// the run then makes a folder of its own; Wine cannot remove a Unix
// symbolic link that way, so here the run stops before any stage. Wine
// makes a reparse point only from such a link, which the test makes with
// ln, started from this Windows process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "sandbox.h"
#include "testbed.h"

namespace {

// The Unix path behind a Windows path, as Wine maps it.
std::string UnixPath(const std::string &path)
{
    using UnixNameFn = char *(CDECL *)(const WCHAR *);
    auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char *name = unixName(wide);
    if (!name) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a Unix command and waits until the link at path exists (or not).
bool RunUnix(std::string command, const std::string &path, bool exists)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine starts a Unix program outside the Windows process table and gives
    // back no process handle; the thread handle then holds a stray number
    // that, in a 32-bit process, is the handle of our own cached
    // HKEY_LOCAL_MACHINE. Closing it would make every later registry call of
    // this process fail. Close the pair only when they are real.
    if (process.hProcess) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    auto present = [&] { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    for (int i = 0; i < 100 && present() != exists; ++i) Sleep(20);
    return present() == exists;
}

// The Unix path of a Windows path whose last component may not exist yet.
std::string UnixPathOfNew(const std::string &path)
{
    size_t cut = path.rfind('\\');
    return UnixPath(path.substr(0, cut)) + "/" + path.substr(cut + 1);
}

// Wine splits a Unix program's command line as Windows does: double quotes.
bool MakeUnixLink(const std::string &target, const std::string &link)
{
    return RunUnix("/bin/ln -s \"" + UnixPath(target) + "\" \"" + UnixPathOfNew(link) + "\"", link, true);
}

// Deleting through Wine could reach the link's target; rm removes the link.
void RemoveUnixLink(const std::string &link) { RunUnix("/bin/rm -f \"" + UnixPathOfNew(link) + "\"", link, false); }

class WorkDirLink : public ::testing::Test {
protected:
    const std::string elsewhere_ = "C:\\link-target";
    std::string link_;

    void SetUp() override
    {
        sandbox::Provision();
        link_ = sandbox::WorkDir();
        link_.pop_back();
        sandbox::RemoveTree(elsewhere_);
        CreateDirectoryA(elsewhere_.c_str(), nullptr);
        sandbox::WriteTextFile(elsewhere_ + "\\precious.qd", "not the setup's to delete");
    }
    void TearDown() override
    {
        RemoveUnixLink(link_);
        sandbox::Clean();
        sandbox::RemoveTree(elsewhere_);
    }
};

TEST_F(WorkDirLink, ALinkedWorkFolderStopsTheRunAndLeavesItsTargetAlone)
{
    if (!MakeUnixLink(elsewhere_, link_)) GTEST_SKIP() << "no symbolic link could be made here";
    ASSERT_TRUE(GetFileAttributesA(link_.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

    for (const char *tail : {" in", " un"}) {
        testbed::RunResult run = testbed::RunSetup(tail);
        EXPECT_EQ(run.exitCode, 1u) << tail;
        EXPECT_TRUE(run.unexpected.empty()) << tail;
        EXPECT_TRUE(sandbox::FileExists(elsewhere_ + "\\precious.qd")) << tail;
    }
    EXPECT_EQ(sandbox::ReadIni(sandbox::ConfigPath(), "Languages", "TranLangs"), "ER") << "nothing registered";
}

}  // namespace
