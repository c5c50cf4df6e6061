// Two versions of one module whose descriptions set their payloads' times
// (dated_later.ini, dated_earlier.ini): the older setup run after the newer
// one leaves the newer files in place and still registers; run before it,
// its files are replaced.
#include <gtest/gtest.h>

#include <string>

#include "sandbox.h"
#include "testbed.h"

namespace {

struct Version {
    const char *program;
    SYSTEMTIME time;  // local, as the description gives it
    size_t size;      // of dated.qd
};
const Version kLater{"modules\\dated_later\\setup.exe", {2024, 6, 0, 30, 18, 45, 0, 0}, 3000};
const Version kEarlier{"modules\\dated_earlier\\setup.exe", {1999, 12, 0, 31, 23, 58, 0, 0}, 2000};

const std::string kInstalled = std::string(sandbox::kDictionaryDir) + "dated.qd";
const char kSection[] = "Dated Dictionary";

// dated.qd as installed: the version whose size and time it has, or "".
std::string InstalledVersion()
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(kInstalled.c_str(), GetFileExInfoStandard, &data)) return "";
    for (const Version *version : {&kLater, &kEarlier}) {
        SYSTEMTIME universal;
        FILETIME expected;
        TzSpecificLocalTimeToSystemTime(nullptr, &version->time, &universal);
        SystemTimeToFileTime(&universal, &expected);
        if (data.nFileSizeLow == version->size && CompareFileTime(&data.ftLastWriteTime, &expected) == 0)
            return version == &kLater ? "later" : "earlier";
    }
    return "neither";
}

void Install(const Version &version)
{
    // Marked as not installed, so that the run's registration shows.
    sandbox::WriteIni(sandbox::ModuleInfoPath(), kSection, "Install", "0");
    testbed::RunResult run = testbed::RunProgram(sandbox::BinDir() + version.program, " in");
    EXPECT_EQ(run.exitCode, 0u) << version.program;
    EXPECT_TRUE(run.unexpected.empty()) << version.program;
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), kSection, "Install"), "1") << version.program;
}

class PayloadTime : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sandbox::Provision();
        sandbox::WriteModuleSection(kSection, "Quorin Dated Dictionary", "Dated", "D", {"dated.qd"});
    }
    void TearDown() override { sandbox::Clean(); }
};

TEST_F(PayloadTime, AnOlderVersionNeverReplacesANewerOne)
{
    Install(kLater);
    EXPECT_EQ(InstalledVersion(), "later");
    Install(kEarlier);
    EXPECT_EQ(InstalledVersion(), "later") << "the newer files stay";
    EXPECT_EQ(sandbox::ReadIni(sandbox::ConfigPath(), "Languages", "TranLangs"), "ERD");

    SetUp();
    Install(kEarlier);
    EXPECT_EQ(InstalledVersion(), "earlier");
    Install(kLater);
    EXPECT_EQ(InstalledVersion(), "later") << "the newer version replaces the older files";
}

}  // namespace
