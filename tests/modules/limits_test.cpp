// The module built from tests/modules/limits.ini, whose every field stands at
// its limit: 31-character section and entry names, 255-character dialog
// texts, a 55-character file name, the largest message id, and in the
// product's quorin.inf a 127-character TitleE and a 259-character Language.
// Its setup must find its section, install and remove its files, register
// the whole language and show its whole texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox.h"
#include "testbed.h"

namespace {

const char kSection[] = "Limits Dictionary 0123456789abc";
const char kAppName[] = "Quorin Limits Dictionary 012345";
const std::string kLongName = std::string(52, 'l') + ".qd";

// The description's long texts: a prefix padded with pad to size characters.
std::string Padded(std::string text, size_t size = 255, const char *pad = " 0123456789")
{
    while (text.size() < size)
        text += pad;
    return text.substr(0, size);
}

const std::string kTitle = Padded("Quorin Limits Dictionary", 127);
const std::string kLanguage = Padded("Limits", 259, "0123456789");

std::string Program() { return sandbox::BinDir() + "modules\\limits\\setup.exe"; }

class LimitsModule : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sandbox::Provision();
        sandbox::WriteModuleSection(kSection, kTitle.c_str(), kLanguage.c_str(), "L", {kLongName, "a.qd"});
    }
    void TearDown() override { sandbox::Clean(); }
};

TEST_F(LimitsModule, InstallsAndRemovesSilently)
{
    std::string dictionary = sandbox::kDictionaryDir;
    testbed::RunResult install = testbed::RunProgram(Program(), " in");
    EXPECT_EQ(install.exitCode, 0u);
    EXPECT_TRUE(install.unexpected.empty());
    EXPECT_TRUE(sandbox::FileExists(dictionary + kLongName));
    EXPECT_TRUE(sandbox::FileExists(dictionary + "a.qd"));
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), kSection, "Install"), "1");
    EXPECT_EQ(sandbox::ReadIni(sandbox::ConfigPath(), "Languages", "TranLangs"), "ERL");
    EXPECT_EQ(sandbox::ReadIni(sandbox::ConfigPath(), "Languages", "Language3"), kLanguage);

    std::vector<std::string> tree;
    sandbox::ListTree(sandbox::InstallShieldDir(), "", tree, false);
    int entries = 0;
    for (const std::string &line : tree)
        if (line.size() > 10 && line.compare(line.size() - 10, 10, "\\setup.ini") == 0 &&
            sandbox::ReadIni(sandbox::InstallShieldDir() + line, "Startup", "AppName") == kAppName)
            ++entries;
    EXPECT_EQ(entries, 1);

    testbed::RunResult removal = testbed::RunProgram(Program(), " un");
    EXPECT_EQ(removal.exitCode, 0u);
    EXPECT_TRUE(removal.unexpected.empty());
    EXPECT_FALSE(sandbox::FileExists(dictionary + kLongName));
    EXPECT_FALSE(sandbox::FileExists(dictionary + "a.qd"));
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), kSection, "Install"), "0");
}

TEST_F(LimitsModule, DialogShowsItsLongestTexts)
{
    // No library text for any of the module's message ids.
    sandbox::WriteIni(std::string(sandbox::kProductDir) + "q3msg.ini", "Messages", "Missing", "1 65535");
    std::string text;
    testbed::RunResult run = testbed::RunProgram(Program(), "", 60000, [&](HWND window, const testbed::WindowSeen &seen) {
        if (seen.className != "#32770" || seen.caption != Padded("Limits Setup!")) return false;
        char buffer[1024] = "";
        GetDlgItemTextA(window, 1000, buffer, sizeof buffer);
        text = buffer;
        SendMessageA(GetDlgItem(window, 2), BM_CLICK, 0, 0);
        return true;
    });
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.handled.size(), 1u);
    for (const testbed::WindowSeen &seen : run.unexpected)
        ADD_FAILURE() << "unexpected window \"" << seen.caption << "\": " << seen.text;
    EXPECT_EQ(text, Padded("Click Start"));
}

}  // namespace
