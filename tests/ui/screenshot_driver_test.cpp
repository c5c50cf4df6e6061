// Not a test: the Windows half of scripts/screenshots, which runs it with
// --gtest_also_run_disabled_tests. At each showing of the dialog it writes
// the dialog's screen rectangle to C:\bed\shots\<name>.ready, waits until
// the script has taken the picture and answered with <name>.done, and then
// presses the button a person would press.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "locale_run.h"
#include "sandbox.h"
#include "testbed.h"

namespace {

const char kShots[] = "C:\\bed\\shots\\";

bool WaitForFile(const std::string &path, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (sandbox::FileExists(path)) return true;
        Sleep(50);
    }
    return false;
}

// Runs one interactive install, pictured as names[0] (confirmation) and
// names[1] (closing form); an empty name takes no picture. A run that finds
// no product shows one box under the same caption, pictured as names[0].
// With a locale, the run has that display language.
void Picture(const std::vector<std::string> &names, const localerun::Locale *locale = nullptr)
{
    size_t showing = 0;
    testbed::WindowHandler handler = [&](HWND window, const testbed::WindowSeen &seen) {
        if (seen.caption != "German Dictionary Setup" || showing >= names.size()) return false;
        const std::string &name = names[showing++];
        if (name.empty()) {
            PostMessageA(window, WM_COMMAND, IDOK, 0);
            return true;
        }
        Sleep(300);  // let it finish painting
        RECT r;
        GetWindowRect(window, &r);
        std::string done = std::string(kShots) + name + ".done";
        DeleteFileA(done.c_str());
        sandbox::WriteTextFile(std::string(kShots) + name + ".ready",
                               std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) +
                                   "+" + std::to_string(r.left) + "+" + std::to_string(r.top) + "\n");
        EXPECT_TRUE(WaitForFile(done, 60000)) << name;
        DeleteFileA(done.c_str());
        PostMessageA(window, WM_COMMAND, showing == 1 ? IDOK : IDCANCEL, 0);
        return true;
    };
    testbed::RunResult run = locale != nullptr
                                 ? localerun::RunInLocale(*locale, testbed::SetupPath(), "", 120000, handler)
                                 : testbed::RunSetup("", 120000, handler);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.unexpected.empty());
    EXPECT_EQ(showing, names.size());
}

void Library(const char *language, const char *unicode, const char *missing)
{
    std::string ini = std::string(sandbox::kProductDir) + "q3msg.ini";
    sandbox::WriteIni(ini, "Messages", "Language", language);
    sandbox::WriteIni(ini, "Messages", "Unicode", unicode);
    sandbox::WriteIni(ini, "Messages", "Missing", missing);
}

// Every form once; at a DPI other than 96 the names end in -DPI, and the
// box of a run without the product (Wine's own message box) is left out.
void PictureEveryForm(DWORD dpi)
{
    std::string suffix = dpi == 96 ? "" : "-" + std::to_string(dpi);
    testbed::SetScreenDpi(dpi == 96 ? 0 : dpi);
    CreateDirectoryA(kShots, nullptr);
    sandbox::Provision();
    Library("German", "1", "");
    Picture({"setup-german-start" + suffix, "setup-german-done" + suffix});

    sandbox::Provision();
    Library("German", "1", "1289 1297");
    Picture({"setup-english-start" + suffix, "setup-english-done" + suffix});

    // A failed run: with no DicPath the context is unusable and no stage
    // runs. On an English, a German, a French, a Russian and a Ukrainian
    // Windows.
    struct Failed {
        const char *name;
        const localerun::Locale *locale;
    } const failed[] = {{"setup-failed", nullptr},
                        {"setup-failed-german", &localerun::kGerman},
                        {"setup-failed-french", &localerun::kFrench},
                        {"setup-failed-russian", &localerun::kRussian},
                        {"setup-failed-ukrainian", &localerun::kUkrainian}};
    for (const Failed &f : failed) {
        sandbox::Provision();
        Library("German", "1", "");
        sandbox::DeleteRegistryValue(sandbox::kOptionsKey, "DicPath");
        Picture({"", f.name + suffix}, f.locale);
    }

    if (dpi == 96) {
        sandbox::Provision();
        sandbox::DeleteRegistryKey(sandbox::kOptionsKey);
        Picture({"setup-no-product"});
    }
    sandbox::Clean();
    testbed::SetScreenDpi(0);
}

TEST(Screenshots, DISABLED_BothFormsInGermanAndEnglish) { PictureEveryForm(96); }

// QUORIN_SHOT_DPI names another scale to look at (192 for 200 %).
TEST(Screenshots, DISABLED_AtOneAndAHalfTimesTheScale)
{
    char dpi[8] = "";
    GetEnvironmentVariableA("QUORIN_SHOT_DPI", dpi, sizeof dpi);
    PictureEveryForm(dpi[0] ? static_cast<DWORD>(atoi(dpi)) : 144);
}

}  // namespace
