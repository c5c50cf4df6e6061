// Runs that fail or are killed leave the product as it was: a failed run
// puts back what it changed before it ends, and a killed one is put back by
// whichever setup runs next, before that one does its own work. So every
// end state here is the state of the runs that finished, as if the failed
// or killed run had never started.
#include <gtest/gtest.h>

#include "fault_bed.h"
#include "sandbox.h"

namespace {

const DWORD kSizes[5] = {27133, 1364, 59577, 950208, 7486};

bool Whole(const std::string &path, DWORD size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow == size;
}

int WholeFiles(const char *suffix)
{
    int whole = 0;
    for (int i = 0; i < 5; ++i) whole += Whole(faults::DictionaryDir() + faults::kPayloadNames[i] + suffix, kSizes[i]);
    return whole;
}

std::string Registry(const char *name)
{
    std::string data;
    if (!sandbox::ReadRegistry(sandbox::kOptionsKey, name, nullptr, &data)) return "<missing>";
    if (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
}

std::string Flag() { return sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"); }
bool Registered() { return Registry("Directions") == "ER:RE:EG:GE:RG:GR:"; }

// The points a German install can be caught at, as seen from outside.
bool EveryFileStaged() { return WholeFiles("~") == 5 && WholeFiles("") == 0; }
bool BetweenTwoRenames() { int whole = WholeFiles(""); return whole >= 1 && whole <= 4; }
bool InsideTheRegistration()
{
    return sandbox::ReadIni(faults::ConfigPath(), "Languages", "Language3") == "German" && !Registered();
}
bool BeforeTheFlag() { return Registered() && Flag() != "1"; }

struct Point {
    const char *name;
    bool (*reached)();
};
const Point kPoints[] = {{"every file staged", EveryFileStaged},
                         {"between two renames", BetweenTwoRenames},
                         {"inside the registration", InsideTheRegistration},
                         {"before the flag", BeforeTheFlag}};

std::string French() { return sandbox::BinDir() + "modules\\french\\setup.exe"; }

// The product with both modules described, neither installed.
void Fresh()
{
    faults::UseSandboxProduct();
    sandbox::ProvisionFrenchModule();
}

// A German install on a fresh product, killed as soon as reached() holds;
// tried again (from a fresh product) while the run slips past the point.
bool InstallKilledWhen(bool (*reached)())
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        Fresh();
        if (faults::KillWhen(" in", reached)) return true;
    }
    return false;
}

struct Follower {
    const char *name;
    bool french;
    const char *tail;
};
const Follower kFollowers[] = {{"German install", false, " in"},
                               {"German removal", false, " un"},
                               {"French install", true, " in"}};

DWORD RunFollower(const Follower &follower)
{
    if (!follower.french) return faults::Run(follower.tail).exitCode;
    testbed::RunResult run = testbed::RunProgram(French(), follower.tail, 60000);
    EXPECT_TRUE(run.unexpected.empty()) << follower.name;
    return run.exitCode;
}

class AllOrNothing : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        for (int i = 0; i < 3; ++i) {
            Fresh();
            exitCodes_[i] = RunFollower(kFollowers[i]);
            alone_[i] = new std::string(faults::State());
        }
        sandbox::Clean();
    }
    static void TearDownTestSuite()
    {
        for (std::string *&state : alone_) {
            delete state;
            state = nullptr;
        }
    }
    void SetUp() override { Fresh(); }
    void TearDown() override { sandbox::Clean(); }

    static std::string *alone_[3];
    static DWORD exitCodes_[3];
};

std::string *AllOrNothing::alone_[3] = {};
DWORD AllOrNothing::exitCodes_[3] = {};

// Each point, each follower: the follower ends as it ends alone.
TEST_F(AllOrNothing, AKilledInstallIsUndoneByTheNextRunWhateverItIs)
{
    for (const Point &point : kPoints)
        for (int f = 0; f < 3; ++f) {
            const Follower &follower = kFollowers[f];
            ASSERT_TRUE(InstallKilledWhen(point.reached)) << point.name << ": the run was never caught there";
            EXPECT_TRUE(sandbox::FileExists(faults::ProductDir() + "quorin.jnl")) << point.name;
            EXPECT_EQ(RunFollower(follower), exitCodes_[f]) << point.name << ", then " << follower.name;
            EXPECT_EQ(faults::State(), *alone_[f]) << point.name << ", then " << follower.name;
        }
}

// The journal is on disk while a box waits for its answer: a run killed
// then (a person ending it from the task manager) is undone as well.
TEST_F(AllOrNothing, ARunKilledAtItsErrorBoxIsUndoneByAnotherModulesInstall)
{
    const char *key = "Software\\Microsoft\\Windows\\CurrentVersion";
    DWORD type = 0;
    std::string programFiles;
    ASSERT_TRUE(sandbox::ReadRegistry(key, "ProgramFilesDir", &type, &programFiles));
    if (!programFiles.empty() && programFiles.back() == '\0') programFiles.pop_back();
    // A Program Files folder so deep that no entry folder fits in it.
    std::string deep = std::string("C:\\aon-") + std::string(180, 'p');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((deep + "\\InstallShield Installation Information").c_str(), nullptr));
    sandbox::WriteRegistryString(key, "ProgramFilesDir", deep);
    bool killed = faults::KillWhen(" in", [] { return FindWindowA(nullptr, "Quorin German Dictionary") != nullptr; });
    sandbox::WriteRegistryString(key, "ProgramFilesDir", programFiles);
    sandbox::RemoveTree(deep);
    ASSERT_TRUE(killed) << "the box never showed";
    EXPECT_TRUE(Registered()) << "the box came after the registration";
    EXPECT_EQ(RunFollower(kFollowers[2]), 0u);
    EXPECT_EQ(faults::State(), *alone_[2]);
}

// A dictionary file whose name a folder has taken cannot be installed: the
// other files are not either, and nothing is registered.
TEST_F(AllOrNothing, AFolderInAFilesPlaceStopsTheWholeInstall)
{
    std::string before = faults::State();
    std::string folder = faults::DictionaryDir() + "mg.qd";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty());
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(faults::State(), before);
    EXPECT_EQ(faults::Run(" in").exitCode, 0u);
    EXPECT_EQ(faults::State(), *alone_[0]);
}

// A file of the module that can be neither deleted nor left for the
// restart (here a folder stands where it would be moved aside): the
// removal puts back every file it took and leaves language and flag.
TEST_F(AllOrNothing, ARemovalThatCannotTakeAFilePutsEverythingBack)
{
    ASSERT_EQ(faults::Run(" in").exitCode, 0u);
    std::string installed = faults::State();
    std::string blocker = faults::DictionaryDir() + "tg.qd.old";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    sandbox::WriteTextFile(blocker + "\\held", "in the way");
    faults::Outcome run = faults::Run(" un");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(WholeFiles(""), 5) << "every file back";
    EXPECT_EQ(Flag(), "1");
    EXPECT_EQ(sandbox::ReadIni(faults::ConfigPath(), "Languages", "Language3"), "German");
    sandbox::RemoveTree(blocker);
    EXPECT_EQ(faults::State(), installed);
    EXPECT_EQ(faults::Run(" un").exitCode, 0u);
}

// An Options value too large for the run to note its old text is not
// changed: the install stops before it and puts back what it did.
TEST_F(AllOrNothing, AnOptionsValueTooLargeToNoteStopsTheInstall)
{
    const std::string large(3000, 'x');
    sandbox::WriteRegistryString(sandbox::kOptionsKey, "Language3", large);
    std::string before = faults::State();
    faults::Outcome run = faults::Run(" in");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Registry("Language3"), large);
    EXPECT_EQ(faults::State(), before);
}

// A run cut once it has noted what it wrote, and then the product runs for
// weeks: the person changes a setting it keeps in quorin.cfg, the product
// its direction list, another module's setup its flag. The undo that the
// next setup makes puts back only what the run changed, and keeps those.
bool WritesNoted()
{
    std::string journal = sandbox::ReadFileBytes(faults::ProductDir() + "quorin.jnl");
    return journal.find("\r\nnow Directions ") != std::string::npos && journal.find("commit") == std::string::npos;
}

TEST_F(AllOrNothing, AnUndoAfterACutKeepsWhatChangedSince)
{
    ASSERT_TRUE(InstallKilledWhen(WritesNoted)) << "the run was never caught with its writes noted";
    sandbox::WriteIni(faults::ConfigPath(), "Options", "FontSize", "14");
    sandbox::WriteRegistryString(sandbox::kOptionsKey, "Directions", "ER:RE:EG:GE:RG:GR:EF:FE:");
    sandbox::WriteIni(faults::ProductDir() + "quorin.inf", "French Dictionary", "Install", "0");
    faults::Outcome run = faults::Run(" un");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(sandbox::ReadIni(faults::ConfigPath(), "Options", "FontSize"), "14");
    EXPECT_EQ(sandbox::ReadIni(faults::ConfigPath(), "Languages", "TranLangs"), "ER");
    EXPECT_EQ(sandbox::ReadIni(faults::ConfigPath(), "Languages", "Language3"), "<missing>");
    EXPECT_EQ(sandbox::ReadIni(faults::ProductDir() + "quorin.inf", "French Dictionary", "Install"), "0");
    EXPECT_EQ(Flag(), "0");
    // The removal that followed pruned the German items from the list the
    // product wrote; its own item stays.
    EXPECT_EQ(Registry("Directions"), "ER:RE:EF:FE:");
    EXPECT_FALSE(sandbox::FileExists(faults::ConfigPath() + ".old"));
}

// Rule 6 of the journal: a journal cut by a power cut ends in a half line
// and a run of zeros (its size reached the disk before its data). Its whole
// lines are still undone: the German copies staged before the cut are gone
// after the French install that follows.
TEST_F(AllOrNothing, AJournalWithATornTailIsUndoneUpToItsLastWholeLine)
{
    ASSERT_TRUE(InstallKilledWhen(EveryFileStaged)) << "the run was never caught with every file staged";
    std::string journal = faults::ProductDir() + "quorin.jnl";
    std::string text = sandbox::ReadFileBytes(journal);
    ASSERT_NE(text.find("added "), std::string::npos) << text;
    sandbox::WriteTextFile(journal, text + "aside C:\\Progr" + std::string(300, '\0'));
    EXPECT_EQ(RunFollower(kFollowers[2]), 0u);
    EXPECT_EQ(faults::State(), *alone_[2]);
    EXPECT_FALSE(sandbox::FileExists(journal + ".bad"));
}

// Rule 7 of the journal: a journal lies in a folder a standard user may
// write, and the setup runs elevated. A line that names anything a run of
// this program does not make (a file outside the product, a program or
// library of the product, a file reached through a link, an Options value
// other than the language's or not as the writer notes it, another
// product's uninstall entry) makes the journal foreign: the run says so in
// its log, keeps it aside, follows none of it and does its own work; and
// the runs after it are not hindered either.
TEST_F(AllOrNothing, PlantedJournalsAreNotFollowed)
{
    const std::string outside = "C:\\aon-outside\\";
    const std::string product = faults::ProductDir();
    const std::string link = product + "j";
    const std::string entries = sandbox::InstallShieldDir();
    const std::string other = entries + "{11111111-2222-3333-4444-555555555555}";
    struct Planted {
        const char *what;
        std::string lines;
        const char *entryName;  // the AppName of the other entry folder
    } const planted[] = {
        {"files outside the product", "aside " + outside + "kept.txt\r\nadded " + outside + "gone.txt\r\n",
         "Other Product"},
        {"DefaultPath", "value DefaultPath 1 433a5c00\r\n", "Other Product"},
        {"a value of a new name", "value Planted 1 7800\r\n", "Other Product"},
        {"another product's entry", "entry " + other + "\r\n", "Other Product"},
        {"an entry of the product's holding more than its two files", "entry " + other + "\r\n",
         "Quorin Other Dictionary"},
        {"files through a link in the product", "added " + link + "\\secret.dll\r\nadded " + link + "\\gone.qd\r\n",
         "Other Product"},
        {"the product's program and libraries",
         "added " + product + "quorin.exe\r\nadded " + product + "q3msg.dll\r\naside " + product + "unzip.dll\r\n",
         "Other Product"},
        {"a value longer than a run notes", "value TranLangs 3 " + std::string(2 * 2101, '4') + "\r\n", "Other Product"},
        {"a value of a type no run writes", "value Directions 7 4552003a00\r\n", "Other Product"},
    };
    std::string defaultPath;
    ASSERT_TRUE(sandbox::ReadRegistry(sandbox::kOptionsKey, "DefaultPath", nullptr, &defaultPath));
    for (const Planted &plant : planted) {
        Fresh();
        CreateDirectoryA(outside.c_str(), nullptr);
        sandbox::WriteTextFile(outside + "kept.txt", "mine");
        sandbox::WriteTextFile(outside + "kept.txt.old", "planted");
        sandbox::WriteTextFile(outside + "gone.txt", "mine too");
        sandbox::WriteTextFile(outside + "gone.qd", "mine as well");
        sandbox::WriteTextFile(outside + "secret.dll", "the system's");
        // A junction a standard user may make in a product folder at the
        // root of a drive.
        bool linked = testbed::MakeUnixLink(outside, link);
        CreateDirectoryA(other.c_str(), nullptr);
        sandbox::WriteIni(other + "\\setup.ini", "Startup", "AppName", plant.entryName);
        sandbox::WriteTextFile(other + "\\setup.exe", "its uninstaller");
        sandbox::WriteTextFile(other + "\\data.bin", "its data");
        sandbox::WriteTextFile(faults::ProductDir() + "quorin.jnl", "quorin journal 1\r\n" + plant.lines);
        std::string log = outside + "run.log";
        faults::Outcome run = faults::Run((" /log=" + log + " in").c_str());
        EXPECT_EQ(run.exitCode, 0u) << plant.what;
        EXPECT_EQ(sandbox::ReadFileBytes(outside + "kept.txt"), "mine") << plant.what;
        EXPECT_EQ(sandbox::ReadFileBytes(outside + "kept.txt.old"), "planted") << plant.what;
        EXPECT_EQ(sandbox::ReadFileBytes(outside + "gone.txt"), "mine too") << plant.what;
        EXPECT_EQ(sandbox::ReadFileBytes(other + "\\data.bin"), "its data") << plant.what;
        EXPECT_EQ(sandbox::ReadFileBytes(other + "\\setup.exe"), "its uninstaller") << plant.what;
        std::string data;
        EXPECT_TRUE(sandbox::ReadRegistry(sandbox::kOptionsKey, "DefaultPath", nullptr, &data)) << plant.what;
        EXPECT_EQ(data, defaultPath) << plant.what;
        EXPECT_FALSE(sandbox::ReadRegistry(sandbox::kOptionsKey, "Planted", nullptr, &data)) << plant.what;
        EXPECT_NE(sandbox::ReadFileBytes(log).find("quorin.jnl is damaged or not ours: not followed"), std::string::npos)
            << plant.what << "\n" << sandbox::ReadFileBytes(log);
        EXPECT_TRUE(sandbox::FileExists(faults::ProductDir() + "quorin.jnl.bad")) << plant.what;
        DeleteFileA((faults::ProductDir() + "quorin.jnl.bad").c_str());
        EXPECT_EQ(sandbox::ReadFileBytes(outside + "gone.qd"), "mine as well") << plant.what;
        EXPECT_EQ(sandbox::ReadFileBytes(outside + "secret.dll"), "the system's") << plant.what;
        if (linked) testbed::RemoveUnixLink(link);
        sandbox::RemoveTree(outside);
        sandbox::RemoveTree(other);
        EXPECT_EQ(faults::State(), *alone_[0]) << plant.what;
        // Nothing the planted journal held is left to stop a later run.
        EXPECT_EQ(faults::Run(" un").exitCode, 0u) << plant.what;
        EXPECT_EQ(faults::Run(" in").exitCode, 0u) << plant.what;
        EXPECT_EQ(faults::State(), *alone_[0]) << plant.what;
    }
}

}  // namespace
