// The setup dialog as a person meets it: setup.exe run without arguments
// against the sandbox product and its message library stand-in.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "dialog_run.h"
#include "sandbox.h"
#include "testbed.h"

namespace {

using namespace dialogrun;

const std::wstring kInvitation = L"Click Start button to installation Quorin German Dictionary.";
const std::wstring kSuccess = L"Quorin German Dictionary has been installed successfully.";
const std::wstring kFailure = L"Quorin German Dictionary was not installed completely. Run this setup again; if it "
                              L"fails again, run it with /log=PATH to see why.";
const char kNoProduct[] = "Quorin was not found on this computer. Install Quorin first, then run this setup again.";

// The stand-in library's texts.
const std::wstring kGermanInvitation =
    L"Klicken Sie auf \u201EStarten\u201C, um das deutsche W\u00F6rterbuch f\u00FCr Quorin zu installieren.";
const std::wstring kGermanSuccess =
    L"Das deutsche W\u00F6rterbuch f\u00FCr Quorin wurde erfolgreich installiert.";
const std::wstring kRussianStart = L"\u041D\u0430\u0447\u0430\u0442\u044C";
const std::wstring kRussianCancel = L"\u041E\u0442\u043C\u0435\u043D\u0430";

class SetupDialogRunTest : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::Provision(); }
    void TearDown() override { sandbox::Clean(); }
};

TEST_F(SetupDialogRunTest, GermanUnicodeConfirmationAndCancelChangesNothing)
{
    ConfigureLibrary("German", "1");
    std::string before = sandbox::Snapshot();
    DialogRun run = RunInteractive({Press::Cancel});
    EXPECT_FALSE(run.result.timedOut);
    EXPECT_TRUE(run.result.unexpected.empty());
    EXPECT_EQ(run.result.exitCode, 0u);
    ASSERT_EQ(run.showings.size(), 1u);
    const Showing &s = run.showings[0];
    EXPECT_EQ(s.text, kGermanInvitation);
    EXPECT_EQ(s.start, L"Starten");
    EXPECT_EQ(s.cancel, L"Abbrechen");
    EXPECT_TRUE(s.startVisible);
    EXPECT_EQ(s.defaultId, MAKELRESULT(1, DC_HASDEFID));
    for (bool unicode : s.unicode)
        EXPECT_TRUE(unicode);
    EXPECT_EQ(sandbox::Snapshot(), before);
}

TEST_F(SetupDialogRunTest, CyrillicSurvivesOnlyInUnicodeMode)
{
    ConfigureLibrary("Russian", "1");
    DialogRun wide = RunInteractive({Press::Cancel});
    ASSERT_EQ(wide.showings.size(), 1u);
    EXPECT_EQ(wide.showings[0].start, kRussianStart);
    EXPECT_EQ(wide.showings[0].cancel, kRussianCancel);
    EXPECT_EQ(wide.showings[0].text.substr(0, 7), L"\u041D\u0430\u0436\u043C\u0438\u0442\u0435");
    for (bool unicode : wide.showings[0].unicode)
        EXPECT_TRUE(unicode);

    ConfigureLibrary("Russian", "0");
    DialogRun narrow = RunInteractive({Press::Cancel});
    ASSERT_EQ(narrow.showings.size(), 1u);
    for (bool unicode : narrow.showings[0].unicode)
        EXPECT_FALSE(unicode);
    // Present (so the buttons were asked for), but not in Cyrillic letters
    // unless the system code page has them.
    EXPECT_FALSE(narrow.showings[0].text.empty());
    EXPECT_NE(narrow.showings[0].start, L"Start");
    EXPECT_EQ(narrow.result.exitCode, 0u);
}

TEST_F(SetupDialogRunTest, NoInvitationMeansEnglishThroughout)
{
    // The library has "Starten" and "Abbrechen", but is not asked for them.
    ConfigureLibrary("German", "1", "1289");
    DialogRun run = RunInteractive({Press::Cancel});
    ASSERT_EQ(run.showings.size(), 1u);
    EXPECT_EQ(run.showings[0].text, kInvitation);
    EXPECT_EQ(run.showings[0].start, L"Start");
    EXPECT_EQ(run.showings[0].cancel, L"Cancel");
    EXPECT_EQ(run.result.exitCode, 0u);
}

TEST_F(SetupDialogRunTest, StartInstallsAndReportsInTheClosingForm)
{
    ConfigureLibrary("German", "1");
    DialogRun run = RunInteractive({Press::Start, Press::Enter});
    EXPECT_FALSE(run.result.timedOut);
    EXPECT_TRUE(run.result.unexpected.empty());
    EXPECT_EQ(run.result.exitCode, 0u);
    ASSERT_EQ(run.showings.size(), 2u);
    const Showing &closing = run.showings[1];
    EXPECT_FALSE(closing.startVisible);
    EXPECT_EQ(closing.cancel, L"OK");
    EXPECT_EQ(closing.defaultId, MAKELRESULT(2, DC_HASDEFID));
    EXPECT_EQ(closing.text, kGermanSuccess);
    for (bool unicode : closing.unicode)
        EXPECT_TRUE(unicode);
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), "1");
}

TEST_F(SetupDialogRunTest, ClosingFormFallsBackToEnglish)
{
    ConfigureLibrary("German", "0", "1297");
    DialogRun run = RunInteractive({Press::Start, Press::Cancel});
    ASSERT_EQ(run.showings.size(), 2u);
    EXPECT_EQ(run.showings[1].text, kSuccess);
    EXPECT_EQ(run.showings[1].cancel, L"OK");
    for (bool unicode : run.showings[1].unicode)
        EXPECT_FALSE(unicode);
    EXPECT_EQ(run.result.exitCode, 0u);
}

// Without the product's message library there is no dialog: one error box
// says why, and nothing changes.
void ExpectProductNotFound(const DialogRun &run, const char *what)
{
    EXPECT_FALSE(run.result.timedOut) << what;
    EXPECT_TRUE(run.showings.empty()) << what;
    EXPECT_TRUE(run.result.unexpected.empty()) << what;
    ASSERT_EQ(run.boxes.size(), 1u) << what;
    EXPECT_EQ(run.boxes[0].caption, kCaption) << what;
    EXPECT_EQ(run.boxes[0].text, kNoProduct) << what;
    EXPECT_TRUE(run.boxes[0].hasIcon) << what;
    EXPECT_FALSE(run.boxes[0].exStyle & WS_EX_TOPMOST) << what << ": not system-modal";
    EXPECT_FALSE(run.boxOwned[0]) << what;
    EXPECT_EQ(run.result.exitCode, 1u) << what;
}

TEST_F(SetupDialogRunTest, WithoutTheProductOneBoxSaysSoAndNothingChanges)
{
    struct Case {
        const char *what;
        void (*arrange)();
    } cases[] = {
        {"no q3msg.dll", [] { ASSERT_TRUE(DeleteFileA(ProductFile("q3msg.dll").c_str())); }},
        {"a q3msg.dll that does not load", [] { sandbox::WriteTextFile(ProductFile("q3msg.dll"), "not a library"); }},
        {"no Options key", [] { sandbox::DeleteRegistryKey(sandbox::kOptionsKey); }},
    };
    for (const Case &c : cases) {
        sandbox::Provision();
        c.arrange();
        std::string before = sandbox::Snapshot();
        ExpectProductNotFound(RunInteractive({}), c.what);
        EXPECT_EQ(sandbox::Snapshot(), before) << c.what;
    }
}

TEST_F(SetupDialogRunTest, UnknownProductDirDoesNotLoadALibraryFromElsewhere)
{
    // q3msg.dll also lies beside setup.exe, where the DLL search path would
    // find it; the program must not take it from there.
    sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DefaultPath");
    ASSERT_TRUE(sandbox::FileExists(sandbox::BinDir() + "q3msg.dll"));
    ExpectProductNotFound(RunInteractive({}), "no DefaultPath");
}

// Whatever made the run fail, its closing form says so in the module's own
// failure text, which the message library is not asked for.
TEST_F(SetupDialogRunTest, AFailedRunEndsWithTheFailureText)
{
    struct Case {
        const char *what;
        void (*arrange)();
        const char *install;  // the install flag afterwards
    } cases[] = {
        {"the context is unusable", [] { sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DicPath"); }, "0"},
        // Nothing else is installed or registered either.
        {"a dictionary file cannot be put in place",
         [] { CreateDirectoryA((std::string(sandbox::kDictionaryDir) + "vg.qd").c_str(), nullptr); }, "0"},
    };
    for (const Case &c : cases) {
        sandbox::Provision();
        ConfigureLibrary("German", "1");
        c.arrange();
        DialogRun run = RunInteractive({Press::Start, Press::Enter});
        EXPECT_FALSE(run.result.timedOut) << c.what;
        EXPECT_TRUE(run.result.unexpected.empty()) << c.what;
        EXPECT_TRUE(run.boxes.empty()) << c.what;
        EXPECT_EQ(run.result.exitCode, 1u) << c.what;
        ASSERT_EQ(run.showings.size(), 2u) << c.what;
        const Showing &closing = run.showings[1];
        EXPECT_EQ(closing.text, kFailure) << c.what;
        EXPECT_FALSE(closing.startVisible) << c.what;
        EXPECT_EQ(closing.cancel, L"OK") << c.what;
        EXPECT_EQ(closing.defaultId, MAKELRESULT(2, DC_HASDEFID)) << c.what;
        EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), c.install)
            << c.what;
    }
}

// Started from a deep download folder, the program still reads its own
// version resource and installs.
TEST_F(SetupDialogRunTest, AProgramPathOf140CharactersInstalls)
{
    std::string folder = "C:\\bed\\deep-download-";
    folder += std::string(140 - folder.size() - std::string("\\setup.exe").size(), 'd');
    std::string program = folder + "\\setup.exe";
    ASSERT_EQ(program.size(), 140u);
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(testbed::SetupPath().c_str(), program.c_str(), FALSE));
    ConfigureLibrary("German", "1");
    DialogRun run = RunInteractive({Press::Start, Press::Enter}, program);
    sandbox::RemoveTree(folder);
    EXPECT_TRUE(run.result.unexpected.empty());
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.result.exitCode, 0u);
    ASSERT_EQ(run.showings.size(), 2u);
    EXPECT_EQ(run.showings[1].text, kGermanSuccess);
    EXPECT_EQ(sandbox::ReadIni(sandbox::ModuleInfoPath(), sandbox::kModuleSection, "Install"), "1");
}

// At 150 % (144 DPI, most laptops' scale) the program, aware of the DPI,
// is drawn at the screen's own scale; its forms, laid out in units of their
// font, grow with it and keep every text whole, in each language and in the
// closing form of a failed run with its third line. Every showing's layout
// is checked as it comes (RunInteractive).
TEST_F(SetupDialogRunTest, AtOneAndAHalfTimesTheScaleEveryFormGrowsAndKeepsItsTexts)
{
    ConfigureLibrary("German", "1");
    DialogRun at96 = RunInteractive({Press::Cancel});
    ASSERT_EQ(at96.showings.size(), 1u);

    struct Case {
        const char *what, *language, *missing;
        bool fails;
    } const cases[] = {
        {"German", "German", "", false},
        {"English", "German", "1289 1297", false},
        {"Russian", "Russian", "", false},
        {"failed", "German", "", true},
    };
    struct Scale {
        Scale() { testbed::SetScreenDpi(144); }
        ~Scale() { testbed::SetScreenDpi(0); }  // also when a case stops the test
    } scale;
    for (const Case &c : cases) {
        sandbox::Provision();
        ConfigureLibrary(c.language, "1", c.missing);
        if (c.fails) sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DicPath");
        DialogRun run = RunInteractive({Press::Start, Press::Enter});
        EXPECT_FALSE(run.result.timedOut) << c.what;
        EXPECT_TRUE(run.result.unexpected.empty()) << c.what;
        EXPECT_EQ(run.result.exitCode, c.fails ? 1u : 0u) << c.what;
        ASSERT_EQ(run.showings.size(), 2u) << c.what;
        const SIZE &small = at96.showings[0].client, &large = run.showings[0].client;
        EXPECT_GE(large.cx * 10, small.cx * 14) << c.what << ": " << small.cx << " -> " << large.cx;
        EXPECT_GE(large.cy * 10, small.cy * 14) << c.what << ": " << small.cy << " -> " << large.cy;
        // Only a failed run's closing form is the taller one, for a third line.
        EXPECT_EQ(run.showings[1].client.cy > large.cy, c.fails) << c.what;
    }
}

TEST_F(SetupDialogRunTest, LibraryLackingItsTextEntriesGivesEnglishAnsiDialog)
{
    ASSERT_TRUE(CopyFileA((sandbox::BinDir() + "q3msg_partial.dll").c_str(), ProductFile("q3msg.dll").c_str(),
                          FALSE));
    ConfigureLibrary("Russian", "1");  // would ask for Unicode, if it could be asked
    DialogRun run = RunInteractive({Press::Cancel});
    ASSERT_EQ(run.showings.size(), 1u);
    EXPECT_EQ(run.showings[0].text, kInvitation);
    EXPECT_EQ(run.showings[0].start, L"Start");
    EXPECT_EQ(run.showings[0].cancel, L"Cancel");
    for (bool unicode : run.showings[0].unicode)
        EXPECT_FALSE(unicode);
    EXPECT_EQ(run.result.exitCode, 0u);
}

}  // namespace
