// The program's own texts in the person's language, end to end: setup.exe
// on a German, French, Russian, Ukrainian or Spanish Windows (Wine's display
// language, set through the Linux locale of the run), its texts read back
// from its windows letter for letter. A locale the machine lacks makes Wine fall back to
// English (scripts/install-deps makes the ones used here).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dialog_run.h"
#include "locale_run.h"
#include "no_product_texts.h"
#include "sandbox.h"
#include "testbed.h"

namespace {

using namespace dialogrun;

const std::wstring kEnglishFailure = L"Quorin German Dictionary was not installed completely. Run this setup again; if "
                                     L"it fails again, run it with /log=PATH to see why.";
const std::wstring kGermanFailure =
    L"Das deutsche W\u00F6rterbuch f\u00FCr Quorin wurde nicht vollst\u00E4ndig installiert. F\u00FChren Sie "
    L"dieses Setup erneut aus; schl\u00E4gt es wieder fehl, starten Sie es mit /log=PFAD, um die Ursache zu "
    L"erfahren.";
const std::wstring kFrenchFailure =
    L"Le dictionnaire allemand de Quorin n\u2019a pas \u00E9t\u00E9 enti\u00E8rement install\u00E9. Relancez ce "
    L"programme d\u2019installation\u00A0; en cas de nouvel \u00E9chec, lancez-le avec l\u2019option /log=CHEMIN "
    L"pour en conna\u00EEtre la cause.";
// Cyrillic written as letters, so that a reader can check them; the
// Ukrainian apostrophe and the no-break spaces by their code points.
const std::wstring kRussianFailure =
    L"Немецкий словарь для Quorin установлен не полностью. Запустите эту программу установки ещё раз. Если "
    L"ошибка повторится, узнать причину поможет запуск с\u00A0параметром /log=ПУТЬ.";
const std::wstring kUkrainianFailure =
    L"Німецький словник для Quorin встановлено не повністю. Запустіть цю програму встановлення ще раз. Якщо "
    L"помилка повториться, дізнатися причину допоможе запуск з\u00A0параметром /log=ШЛЯХ.";
const std::wstring kGermanRestart =
    L"Windows muss neu gestartet werden, um die Installation dieses Moduls abzuschlie\u00DFen.";
const std::wstring kGermanBusy = L"Ein anderes Setup von Quorin wird gerade ausgef\u00FChrt. F\u00FChren Sie dieses "
                                 L"Setup erneut aus, sobald es beendet ist.";
const char kTitle[] = "Quorin German Dictionary";  // TitleE: the run's boxes' caption
const char kLog[] = "C:\\bed\\display-language.log";

std::string EnglishFailureModule() { return sandbox::BinDir() + "modules\\english_failure\\setup.exe"; }

// An installed vg.qd older than the payload's, held open by this process:
// the install can replace it only when Windows restarts.
class HeldFile {
public:
    HeldFile()
    {
        std::string path = std::string(sandbox::kDictionaryDir) + "vg.qd";
        testbed::WriteOldFile(path, "the installed vg.qd");
        handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~HeldFile() { CloseHandle(handle_); }
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

class DisplayLanguageTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sandbox::Provision();
        ConfigureLibrary("German", "1");
        DeleteFileA(kLog);
    }
    void TearDown() override
    {
        sandbox::Clean();
        DeleteFileA(kLog);
    }
};

// Whatever the language, a failed run's closing form says so in it, whole
// and inside its control, at 96 and at 144 DPI (RunInteractive checks every
// showing's layout); a language the program has no texts in gets English.
TEST_F(DisplayLanguageTest, AFailedInstallSaysSoInTheDisplayLanguage)
{
    struct Case {
        const char *what;
        localerun::Locale locale;
        DWORD dpi;
        const std::wstring &text;
    } const cases[] = {
        {"German", localerun::kGerman, 96, kGermanFailure},
        {"French", localerun::kFrench, 96, kFrenchFailure},
        {"Spanish", localerun::kSpanish, 96, kEnglishFailure},
        {"Russian", localerun::kRussian, 96, kRussianFailure},
        {"Ukrainian", localerun::kUkrainian, 96, kUkrainianFailure},
        {"German at 144 DPI", localerun::kGerman, 144, kGermanFailure},
        {"French at 144 DPI", localerun::kFrench, 144, kFrenchFailure},
        {"Russian at 144 DPI", localerun::kRussian, 144, kRussianFailure},
        {"Ukrainian at 144 DPI", localerun::kUkrainian, 144, kUkrainianFailure},
    };
    for (const Case &c : cases) {
        sandbox::Provision();
        ConfigureLibrary("German", "1");
        sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DicPath");  // the context is unusable
        testbed::SetScreenDpi(c.dpi == 96 ? 0 : c.dpi);
        DialogRun run = RunInteractive({Press::Start, Press::Enter}, testbed::SetupPath(), &c.locale);
        testbed::SetScreenDpi(0);
        EXPECT_FALSE(run.result.timedOut) << c.what;
        EXPECT_TRUE(run.result.unexpected.empty()) << c.what;
        EXPECT_EQ(run.result.exitCode, 1u) << c.what;
        ASSERT_EQ(run.showings.size(), 2u) << c.what;
        EXPECT_EQ(run.showings[1].text, c.text) << c.what << " (is its Linux locale installed?)";
        EXPECT_EQ(run.showings[1].cancel, L"OK") << c.what;
        EXPECT_FALSE(run.showings[1].startVisible) << c.what;
    }
}

// A file in use: the restart box and then the closing form, both in German;
// the log keeps its English, which administrators search for.
TEST_F(DisplayLanguageTest, TheRestartBoxSpeaksGerman)
{
    HeldFile held;
    ASSERT_TRUE(held.Held());
    DialogRun run = RunInteractive({Press::Start, Press::Enter}, testbed::SetupPath(), &localerun::kGerman,
                                   std::string(" /log=") + kLog);
    EXPECT_TRUE(run.result.unexpected.empty());
    EXPECT_EQ(run.result.exitCode, 3010u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    EXPECT_EQ(run.boxTexts[0], kGermanRestart);
    EXPECT_EQ(run.boxes[0].caption, kTitle);
    EXPECT_TRUE(run.boxes[0].exStyle & WS_EX_TOPMOST) << "system-modal";
    ASSERT_EQ(run.showings.size(), 2u);
    EXPECT_EQ(run.showings[1].text, kGermanFailure);
    std::string log = sandbox::ReadFileBytes(kLog);
    EXPECT_NE(log.find("text \"Windows must be restarted to finish installing this module.\""), std::string::npos)
        << log;
}

// A minute's wait for the other setup: in the shipped 32-bit configuration
// only, as the run suite's own case of the bound.
TEST_F(DisplayLanguageTest, TheBusyBoxSpeaksGerman)
{
#if !defined(__i386__)
    GTEST_SKIP() << "the minute-long wait runs in the i686 configuration";
#endif
    // Held by this thread, as another setup would hold it, for the whole run.
    HANDLE other = CreateMutexA(nullptr, TRUE, "Global\\Quorin.ModuleSetup");
    ASSERT_NE(other, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    DialogRun run = RunInteractive({Press::Start, Press::Enter}, testbed::SetupPath(), &localerun::kGerman, "",
                                   120000);
    ReleaseMutex(other);
    CloseHandle(other);
    EXPECT_FALSE(run.result.timedOut);
    EXPECT_TRUE(run.result.unexpected.empty());
    EXPECT_EQ(run.result.exitCode, 1618u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    EXPECT_EQ(run.boxTexts[0], kGermanBusy);
    EXPECT_EQ(run.boxes[0].caption, kTitle);
    ASSERT_EQ(run.showings.size(), 2u);
    EXPECT_EQ(run.showings[1].text, kGermanFailure);
}

// No product: no dialog, only the box, in French, under the dialog's caption.
// The boxes the program has always shown keep their English texts.
TEST_F(DisplayLanguageTest, TheNoProductBoxSpeaksFrenchTheOldBoxesEnglish)
{
    sandbox::DeleteRegistryKey(sandbox::kOptionsKey);
    DialogRun run = RunInteractive({}, testbed::SetupPath(), &localerun::kFrench);
    EXPECT_TRUE(run.result.unexpected.empty());
    EXPECT_TRUE(run.showings.empty());
    EXPECT_EQ(run.result.exitCode, 1u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    EXPECT_EQ(run.boxTexts[0], kFrenchNoProduct);
    EXPECT_EQ(run.boxes[0].caption, kCaption);

    sandbox::Provision();
    ASSERT_TRUE(DeleteFileA(sandbox::ModuleInfoPath().c_str()));
    DialogRun removal = RunInteractive({}, testbed::SetupPath(), &localerun::kFrench, " un");
    EXPECT_EQ(removal.result.exitCode, 1u);
    ASSERT_EQ(removal.boxTexts.size(), 1u);
    EXPECT_EQ(removal.boxTexts[0], L"File quorin.inf not found.");
}

// No product on a Russian and on a Ukrainian Windows: the box alone, in that
// language, under the dialog's caption.
TEST_F(DisplayLanguageTest, TheNoProductBoxSpeaksRussianAndUkrainian)
{
    struct Case {
        const char *what;
        localerun::Locale locale;
        const std::wstring &text;
    } const cases[] = {
        {"Russian", localerun::kRussian, kRussianNoProduct},
        {"Ukrainian", localerun::kUkrainian, kUkrainianNoProduct},
    };
    sandbox::DeleteRegistryKey(sandbox::kOptionsKey);
    for (const Case &c : cases) {
        DialogRun run = RunInteractive({}, testbed::SetupPath(), &c.locale);
        EXPECT_TRUE(run.result.unexpected.empty()) << c.what;
        EXPECT_TRUE(run.showings.empty()) << c.what;
        EXPECT_EQ(run.result.exitCode, 1u) << c.what;
        ASSERT_EQ(run.boxTexts.size(), 1u) << c.what;
        EXPECT_EQ(run.boxTexts[0], c.text) << c.what << " (is its Linux locale installed?)";
        EXPECT_EQ(run.boxes[0].caption, kCaption) << c.what;
    }
}

// The program's own texts do not depend on the system code page. On a
// Cyrillic Windows (1251) the library's German put in as ANSI text loses
// its ä, ö, ü and ß, and on a Western one (1252, a Russian display language
// set up in another country) the library's Russian loses its letters, which
// shows that the run really had that code page; the program's own German
// and Russian keep every letter, in the closing form's control and in a box.
TEST_F(DisplayLanguageTest, OnAnotherCodePageTheProgramsLettersStayWhole)
{
    const struct {
        const char *library;
        const localerun::Locale &locale;
        wchar_t lost;        // a letter of the library's text the code page lacks
        const wchar_t *kept; // a part of it the code page has
        const std::wstring &failure;
        const std::wstring &noProduct;
    } cases[] = {
        {"German", localerun::kGermanOnCyrillic, L'\u00F6', L"rterbuch", kGermanFailure, kGermanNoProduct},
        {"Russian", localerun::kRussianOnWestern, L'\u041D', L"Quorin", kRussianFailure, kRussianNoProduct},
    };
    for (const auto &c : cases) {
        SetUp();
        ConfigureLibrary(c.library, "0");
        sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DicPath");
        DialogRun failed = RunInteractive({Press::Start, Press::Enter}, testbed::SetupPath(), &c.locale);
        EXPECT_EQ(failed.result.exitCode, 1u) << c.library;
        ASSERT_EQ(failed.showings.size(), 2u) << c.library;
        EXPECT_EQ(failed.showings[0].text.find(c.lost), std::wstring::npos) << c.library << ": not that code page?";
        EXPECT_NE(failed.showings[0].text.find(c.kept), std::wstring::npos) << c.library;
        EXPECT_EQ(failed.showings[1].text, c.failure) << c.library;

        sandbox::DeleteRegistryKey(sandbox::kOptionsKey);
        DialogRun box = RunInteractive({}, testbed::SetupPath(), &c.locale);
        EXPECT_EQ(box.result.exitCode, 1u) << c.library;
        ASSERT_EQ(box.boxTexts.size(), 1u) << c.library;
        EXPECT_EQ(box.boxTexts[0], c.noProduct) << c.library;
    }
}

// A module whose description gives its failure text in English only: that
// text in English on a German Windows, the program's own texts in German.
TEST_F(DisplayLanguageTest, AFailureTextInEnglishOnlyStaysEnglish)
{
    HeldFile held;
    ASSERT_TRUE(held.Held());
    DialogRun run = RunInteractive({Press::Start, Press::Enter}, EnglishFailureModule(), &localerun::kGerman);
    EXPECT_TRUE(run.result.unexpected.empty());
    EXPECT_EQ(run.result.exitCode, 3010u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    EXPECT_EQ(run.boxTexts[0], kGermanRestart);
    ASSERT_EQ(run.showings.size(), 2u);
    EXPECT_EQ(run.showings[1].text, kEnglishFailure);
}

}  // namespace
