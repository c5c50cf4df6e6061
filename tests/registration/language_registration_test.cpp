// RegisterLanguage, UnregisterLanguage and PublishLanguageList in-process
// against the sandbox product: the configuration file through the profile
// functions, the Options key's values by their exact type and bytes.
#include <gtest/gtest.h>

#include <string>

#include "context/install_context.h"
#include "registration/language_registration.h"
#include "sandbox.h"
#include "support/text.h"

namespace {

const char kLanguages[] = "Languages";
const std::string kMissing = "<missing>";

std::string Sz(const std::string &text) { return text + std::string(1, '\0'); }
// The registry form of a language entry: spaces as zero bytes, two zeros after.
std::string Entry(const std::string &name)
{
    std::string bytes = name + std::string(2, '\0');
    for (char &c : bytes)
        if (c == ' ') c = '\0';
    return bytes;
}

class LanguageRegistration : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sandbox::Provision();
        ResetInstallContext();
        InstallContext &context = Install();
        CopyText(context.ProductDir, kPathCapacity, sandbox::kProductDir);
        CopyText(context.DictionaryDir, kPathCapacity, sandbox::kDictionaryDir);
        CopyText(context.ConfigPath, kPathCapacity, sandbox::ConfigPath().c_str());
        CopyText(context.ModuleInfoPath, kPathCapacity, sandbox::ModuleInfoPath().c_str());
        CopyText(context.ModuleName, kNameCapacity, sandbox::kModuleSection);
        CopyText(context.ModuleAppName, kNameCapacity, sandbox::kAppName);
        CopyText(context.Title, kTitleCapacity, "Quorin German Dictionary");
    }
    void TearDown() override { sandbox::Clean(); }

    static std::string Config(const char *key)
    {
        return sandbox::ReadIni(sandbox::ConfigPath(), kLanguages, key);
    }
    static void SetConfig(const char *key, const char *value)
    {
        sandbox::WriteIni(sandbox::ConfigPath(), kLanguages, key, value);
    }
    static void SetModule(const char *key, const char *value)
    {
        sandbox::WriteIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, key, value);
    }
    // The configuration list as "a|b|c", read the way the product reads it.
    static std::string ConfigList()
    {
        std::string list;
        for (int n = 1;; ++n) {
            std::string value = Config(("Language" + std::to_string(n)).c_str());
            if (value == kMissing || value.empty()) break;
            list += (n > 1 ? "|" : "") + value;
        }
        return list;
    }

    static void SetReg(const char *name, const std::string &bytes, DWORD type)
    {
        sandbox::WriteRegistryBinary(sandbox::kOptionsKey, name, bytes, type);
    }
    static void DeleteReg(const char *name) { sandbox::DeleteRegistryValue(sandbox::kOptionsKey, name); }

    // "missing", or the type and the exact bytes of the value.
    static ::testing::AssertionResult Reg(const char *name, DWORD type, const std::string &bytes)
    {
        DWORD actualType = 0;
        std::string data;
        if (!sandbox::ReadRegistry(sandbox::kOptionsKey, name, &actualType, &data))
            return ::testing::AssertionFailure() << name << " is missing";
        if (actualType != type || data != bytes)
            return ::testing::AssertionFailure()
                   << name << ": type " << actualType << ", " << data.size() << " bytes \"" << data << "\"";
        return ::testing::AssertionSuccess();
    }
    static bool RegExists(const char *name)
    {
        return sandbox::ReadRegistry(sandbox::kOptionsKey, name, nullptr, nullptr);
    }
};

// ---- RegisterLanguage ----

TEST_F(LanguageRegistration, AddsLetterNameAndDirections)
{
    RegisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ERG");
    EXPECT_EQ(ConfigList(), "English|Russian|German");
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ERG")));
    EXPECT_TRUE(Reg("Language1", REG_BINARY, Entry("English")));
    EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry("Russian")));
    EXPECT_TRUE(Reg("Language3", REG_BINARY, Entry("German")));
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("ER:RE:EG:GE:RG:GR:")));

    // A second run finds everything and writes the same values again.
    std::string config = sandbox::ReadFileBytes(sandbox::ConfigPath());
    SetReg("TranLangs", Sz("X"), REG_SZ);
    RegisterLanguage();
    EXPECT_EQ(sandbox::ReadFileBytes(sandbox::ConfigPath()), config);
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ERG")));
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("ER:RE:EG:GE:RG:GR:")));
}

TEST_F(LanguageRegistration, EmptyListAndMissingFile)
{
    DeleteFileA(sandbox::ConfigPath().c_str());
    RegisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "G");
    EXPECT_EQ(ConfigList(), "German");
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("G")));
    EXPECT_TRUE(Reg("Language1", REG_BINARY, Entry("German")));
    EXPECT_FALSE(RegExists("Language2"));
    // G alone pairs with no other letter.
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("ER:RE:")));
}

TEST_F(LanguageRegistration, NameAndLetterPresentLeaveTheFileUntouched)
{
    // The name in other case, the letter present: nothing to write, but the
    // registry still receives the whole list.
    SetConfig("TranLangs", "ERG");
    SetConfig("Language3", "german");
    SetReg("TranLangs", Sz("ER"), REG_SZ);
    SetReg("Language3", Entry("stale"), REG_BINARY);
    std::string config = sandbox::ReadFileBytes(sandbox::ConfigPath());

    RegisterLanguage();
    EXPECT_EQ(sandbox::ReadFileBytes(sandbox::ConfigPath()), config);
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ERG")));
    EXPECT_TRUE(Reg("Language3", REG_BINARY, Entry("german")));
    EXPECT_FALSE(RegExists("Language4"));
}

TEST_F(LanguageRegistration, GapTakesTheName)
{
    SetConfig("Language2", nullptr);
    SetConfig("Language3", "German");
    RegisterLanguage();
    EXPECT_EQ(Config("Language1"), "English");
    EXPECT_EQ(Config("Language2"), "German");
    EXPECT_EQ(Config("Language3"), "German");
    EXPECT_TRUE(Reg("Language3", REG_BINARY, Entry("German")));
}

TEST_F(LanguageRegistration, DirectionsNeverStarted)
{
    DeleteReg("Directions");
    RegisterLanguage();
    EXPECT_FALSE(RegExists("Directions"));
    EXPECT_EQ(Config("TranLangs"), "ERG");

    sandbox::Provision();
    SetReg("Directions", Sz(""), REG_SZ);
    RegisterLanguage();
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("")));
}

TEST_F(LanguageRegistration, DirectionsTooLongToReadStayAsStored)
{
    std::string stored;
    while (stored.size() < 300)
        stored += "ER:";
    SetReg("Directions", Sz(stored), REG_SZ);
    RegisterLanguage();
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz(stored)));
}

TEST_F(LanguageRegistration, PublishWithThreeNamesAgainstFourValues)
{
    SetConfig("Language3", "Latin");
    SetReg("Language3", Entry("Old three"), REG_BINARY);
    SetReg("Language4", Entry("Old four"), REG_BINARY);
    HKEY options;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sandbox::kOptionsKey, 0, KEY_ALL_ACCESS, &options),
              ERROR_SUCCESS);
    PublishLanguageList(options);
    RegCloseKey(options);
    EXPECT_TRUE(Reg("Language1", REG_BINARY, Entry("English")));
    EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry("Russian")));
    EXPECT_TRUE(Reg("Language3", REG_BINARY, Entry("Latin")));
    EXPECT_FALSE(RegExists("Language4"));
}

TEST_F(LanguageRegistration, PublishStopsAtTheFirstMissingNumber)
{
    // Language1 and Language3 without Language2: nothing is deleted, and
    // Language3 outlives a list of two.
    DeleteReg("Language2");
    SetReg("Language3", Entry("Old three"), REG_BINARY);
    HKEY options;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sandbox::kOptionsKey, 0, KEY_ALL_ACCESS, &options),
              ERROR_SUCCESS);
    PublishLanguageList(options);
    RegCloseKey(options);
    EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry("Russian")));
    EXPECT_TRUE(Reg("Language3", REG_BINARY, Entry("Old three")));
}

TEST_F(LanguageRegistration, EntriesWithSpacesAndTheLongestEntry)
{
    std::string longest(259, 'x');
    longest[3] = ' ';
    SetConfig("Language1", "Alpha Beta");
    SetConfig("Language2", longest.c_str());
    SetModule("Language", "Two  Spaces");
    RegisterLanguage();
    EXPECT_TRUE(Reg("Language1", REG_BINARY, std::string("Alpha\0Beta\0\0", 12)));
    EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry(longest)));
    EXPECT_TRUE(Reg("Language3", REG_BINARY, std::string("Two\0\0Spaces\0\0", 13)));

    // A registry value of 261 bytes is still found, and deleted, as stale:
    // the walk goes on past it to Language3.
    SetConfig("Language3", nullptr);
    SetConfig("Language2", "Short");
    SetModule("Language", "short");
    RegisterLanguage();
    EXPECT_EQ(ConfigList(), "Alpha Beta|Short");
    EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry("Short")));
    EXPECT_FALSE(RegExists("Language3"));
}

TEST_F(LanguageRegistration, LettersDifferingInCase)
{
    SetConfig("TranLangs", "ERg");
    SetReg("Directions", Sz("ER:RE:Eg:gE:Rg:gR:"), REG_SZ);
    RegisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ERgG");
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("ER:RE:Eg:gE:Rg:gR:EG:GE:RG:GR:gG:Gg:")));
}

TEST_F(LanguageRegistration, FullLetterList)
{
    SetConfig("TranLangs", "ERABCDFHIJKLMNO");
    RegisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ERABCDFHIJKLMNO");
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ERABCDFHIJKLMNO")));
    // The rest of the run goes on.
    EXPECT_EQ(ConfigList(), "English|Russian|German");
}

TEST_F(LanguageRegistration, EmptyLetterChangesNeitherList)
{
    SetModule("Letter", "");
    RegisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ER");
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ER")));
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("ER:RE:")));
    EXPECT_EQ(ConfigList(), "English|Russian|German");
}

TEST_F(LanguageRegistration, OptionsKeyMissingLeavesTheRegistryAlone)
{
    sandbox::DeleteRegistryKey(sandbox::kOptionsKey);
    RegisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ERG");
    EXPECT_EQ(ConfigList(), "English|Russian|German");
    HKEY options;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sandbox::kOptionsKey, 0, KEY_READ, &options), ERROR_SUCCESS);
}

// ---- UnregisterLanguage ----

class LanguageUnregistration : public LanguageRegistration {
  protected:
    void SetUp() override
    {
        LanguageRegistration::SetUp();
        RegisterLanguage();
    }
};

TEST_F(LanguageUnregistration, TakesBackWhatRegistrationAdded)
{
    UnregisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ER");
    EXPECT_EQ(ConfigList(), "English|Russian");
    EXPECT_EQ(Config("Language3"), kMissing);
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ER")));
    EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry("Russian")));
    EXPECT_FALSE(RegExists("Language3"));
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("ER:RE:")));

    // A second run finds nothing to take out of the file.
    std::string config = sandbox::ReadFileBytes(sandbox::ConfigPath());
    UnregisterLanguage();
    EXPECT_EQ(sandbox::ReadFileBytes(sandbox::ConfigPath()), config);
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ER")));
}

TEST_F(LanguageUnregistration, ProtectedLettersStay)
{
    for (const char *letter : {"E", "R", "U"}) {
        sandbox::Provision();
        SetConfig("TranLangs", "ERUG");
        SetConfig("Language3", "Ukrainian");
        SetModule("Letter", letter);
        SetModule("Language", "Russian");
        SetReg("TranLangs", Sz("untouched"), REG_SZ);
        SetReg("Directions", Sz("ER:RE:EU:UE:RU:UR:EG:"), REG_SZ);
        UnregisterLanguage();
        EXPECT_EQ(Config("TranLangs"), "ERUG") << letter;
        EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("untouched"))) << letter;
        EXPECT_EQ(ConfigList(), "English|Ukrainian") << letter;
        EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry("Ukrainian"))) << letter;
        const char *pruned = letter[0] == 'E' ? "RU:UR:" : letter[0] == 'R' ? "EU:UE:EG:" : "ER:RE:EG:";
        EXPECT_TRUE(Reg("Directions", REG_SZ, Sz(pruned))) << letter;
    }
}

TEST_F(LanguageUnregistration, FirstOfTwoLettersGoes)
{
    SetConfig("TranLangs", "GERG");
    UnregisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ERG");
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ERG")));
}

TEST_F(LanguageUnregistration, LetterNotInTheListStillRepublishes)
{
    SetConfig("TranLangs", "ER");
    SetReg("TranLangs", Sz("XYZ"), REG_SZ);
    UnregisterLanguage();
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ER")));
}

TEST_F(LanguageUnregistration, MiddleNameMovesTheRestDown)
{
    SetConfig("Language1", "English");
    SetConfig("Language2", "German");
    SetConfig("Language3", "Russian");
    UnregisterLanguage();
    EXPECT_EQ(Config("Language1"), "English");
    EXPECT_EQ(Config("Language2"), "Russian");
    EXPECT_EQ(Config("Language3"), kMissing);
    EXPECT_TRUE(Reg("Language2", REG_BINARY, Entry("Russian")));
    EXPECT_FALSE(RegExists("Language3"));
}

TEST_F(LanguageUnregistration, OnlyNameLeavesRegistryLanguageOne)
{
    sandbox::Provision();
    SetConfig("Language1", nullptr);
    SetConfig("Language2", nullptr);
    RegisterLanguage();
    ASSERT_TRUE(Reg("Language1", REG_BINARY, Entry("German")));

    UnregisterLanguage();
    EXPECT_EQ(Config("Language1"), kMissing);
    EXPECT_TRUE(Reg("Language1", REG_BINARY, Entry("German")));
    EXPECT_FALSE(RegExists("Language2"));
}

TEST_F(LanguageUnregistration, NameTwiceLosesOnlyTheFirst)
{
    SetConfig("Language1", "GERMAN");
    SetConfig("Language2", "Russian");
    SetConfig("Language3", "German");
    SetConfig("Language4", "Latin");
    UnregisterLanguage();
    EXPECT_EQ(ConfigList(), "Russian|German|Latin");
    EXPECT_EQ(Config("Language4"), kMissing);
}

TEST_F(LanguageUnregistration, NameAfterAGapIsNeverFound)
{
    SetConfig("Language2", nullptr);
    UnregisterLanguage();
    EXPECT_EQ(Config("Language1"), "English");
    EXPECT_EQ(Config("Language2"), kMissing);
    EXPECT_EQ(Config("Language3"), "German");
}

TEST_F(LanguageUnregistration, EveryItemHoldingTheLetterLeavesAnEmptyList)
{
    SetReg("Directions", Sz("EG:GE:RG:GR:G"), REG_SZ);
    UnregisterLanguage();
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("")));

    // An emptied list is not started again.
    RegisterLanguage();
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("")));
}

TEST_F(LanguageUnregistration, DirectionsMissingOrTooLongStayAsTheyAre)
{
    DeleteReg("Directions");
    UnregisterLanguage();
    EXPECT_FALSE(RegExists("Directions"));

    std::string stored;
    while (stored.size() < 300)
        stored += "EG:";
    SetReg("Directions", Sz(stored), REG_SZ);
    UnregisterLanguage();
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz(stored)));
}

TEST_F(LanguageUnregistration, EmptyLetterChangesNeitherList)
{
    SetModule("Letter", "");
    UnregisterLanguage();
    EXPECT_EQ(Config("TranLangs"), "ERG");
    EXPECT_TRUE(Reg("TranLangs", REG_SZ, Sz("ERG")));
    EXPECT_TRUE(Reg("Directions", REG_SZ, Sz("ER:RE:EG:GE:RG:GR:")));
    EXPECT_EQ(ConfigList(), "English|Russian");
}

} // namespace
