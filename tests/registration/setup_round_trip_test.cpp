// setup.exe run as a child process: a silent install followed by a removal
// leaves the product as it found it, apart from what is meant to stay (the
// uninstall entry, the registry's Language1 of a sole name, the letters
// 'E', 'R' and 'U').
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "sandbox.h"
#include "testbed.h"

namespace {

std::set<std::string> Lines(const std::string &snapshot)
{
    std::set<std::string> lines;
    std::istringstream stream(snapshot);
    for (std::string line; std::getline(stream, line);)
        lines.insert(line);
    return lines;
}

// Lines of a that b lacks.
std::set<std::string> Minus(const std::set<std::string> &a, const std::set<std::string> &b)
{
    std::set<std::string> result;
    for (const std::string &line : a)
        if (!b.count(line)) result.insert(line);
    return result;
}

bool IsUninstallEntryLine(const std::string &line) { return line.rfind("file installshield\\{", 0) == 0; }
// The configuration file's size follows its keys, which are compared one by one.
bool IsConfigSizeLine(const std::string &line) { return line.rfind("file product\\quorin.cfg ", 0) == 0; }

std::string Join(const std::set<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    return text;
}

class SetupRoundTrip : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::Provision(); }
    void TearDown() override { sandbox::Clean(); }

    static void Run(const char *tail)
    {
        testbed::RunResult result = testbed::RunSetup(tail);
        EXPECT_FALSE(result.timedOut) << tail;
        EXPECT_EQ(result.exitCode, 0u) << tail;
        for (const testbed::WindowSeen &seen : result.unexpected)
            ADD_FAILURE() << tail << ": unexpected window \"" << seen.caption << "\": " << seen.text;
    }

    // Installs and removes; returns what changed, the uninstall entry's own
    // files aside, as "-" lines that went and "+" lines that came.
    static std::string InstallThenRemove()
    {
        std::set<std::string> before = Lines(sandbox::Snapshot());
        Run(" in");
        Run(" un");
        std::set<std::string> after = Lines(sandbox::Snapshot());
        std::string changes;
        for (const std::string &line : Minus(before, after))
            if (!IsConfigSizeLine(line)) changes += "-" + line + "\n";
        for (const std::string &line : Minus(after, before))
            if (!IsUninstallEntryLine(line) && !IsConfigSizeLine(line)) changes += "+" + line + "\n";
        return changes;
    }

    static std::string Config(const char *key)
    {
        return sandbox::ReadIni(sandbox::ConfigPath(), "Languages", key);
    }
};

TEST_F(SetupRoundTrip, InstallRegistersAndRemovalTakesBack)
{
    std::set<std::string> before = Lines(sandbox::Snapshot());
    Run(" in");
    EXPECT_EQ(Config("TranLangs"), "ERG");
    EXPECT_EQ(Config("Language3"), "German");
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(sandbox::ReadRegistry(sandbox::kOptionsKey, "Language3", &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(data, std::string("German\0\0", 8));
    ASSERT_TRUE(sandbox::ReadRegistry(sandbox::kOptionsKey, "Directions", &type, &data));
    EXPECT_EQ(data, std::string("ER:RE:EG:GE:RG:GR:\0", 19));

    // The entry: a GUID folder with setup.ini and a copy of setup.exe.
    std::set<std::string> added = Minus(Lines(sandbox::Snapshot()), before);
    int entryFiles = 0;
    for (const std::string &line : added)
        if (IsUninstallEntryLine(line)) ++entryFiles;
    EXPECT_EQ(entryFiles, 3) << Join(added);

    // A second install finds the entry by its name and makes none.
    Run(" in");
    std::set<std::string> again = Minus(Lines(sandbox::Snapshot()), before);
    EXPECT_EQ(Join(again), Join(added));

    Run(" un");
    std::set<std::string> after = Lines(sandbox::Snapshot());
    std::set<std::string> left;
    for (const std::string &line : Minus(after, before))
        if (!IsUninstallEntryLine(line)) left.insert(line);
    EXPECT_EQ(Join(left), "");
    EXPECT_EQ(Join(Minus(before, after)), "");
}

TEST_F(SetupRoundTrip, SoleNameStaysInRegistryLanguageOne)
{
    sandbox::WriteIni(sandbox::ConfigPath(), "Languages", "Language1", nullptr);
    sandbox::WriteIni(sandbox::ConfigPath(), "Languages", "Language2", nullptr);
    sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "Language1");
    sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "Language2");
    EXPECT_EQ(InstallThenRemove(), "+reg Language1 REG_BINARY 47 65 72 6d 61 6e 00 00\n");
}

TEST_F(SetupRoundTrip, ProtectedLetterStays)
{
    sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Letter", "U");
    sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Language", "Ukrainian");
    EXPECT_EQ(InstallThenRemove(), "-ini quorin.cfg [Languages] TranLangs=ER\n"
                                   "-reg TranLangs REG_SZ \"ER\"\n"
                                   "+ini quorin.cfg [Languages] TranLangs=ERU\n"
                                   "+reg TranLangs REG_SZ \"ERU\"\n");
}

} // namespace
