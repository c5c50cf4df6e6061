// The setup dialog in this process, with a message library of the test's own
// making: which message ids are asked for, what the controls end up showing,
// and how each showing ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "context/install_context.h"
#include "dialog_run.h"
#include "testbed.h"
#include "ui/message_library.h"
#include "ui/setup_dialog.h"

namespace {

const char kInvitation[] = "Click Start button to installation Quorin German Dictionary.";
const char kSuccess[] = "Quorin German Dictionary has been installed successfully.";
const char kFailure[] = "Quorin German Dictionary was not installed completely. Run this setup again; if it fails "
                        "again, run it with /log=PATH to see why.";

struct LibraryCall {
    int control;
    int message;
    bool unicodeWindow;  // the control was a Unicode window when asked
    bool operator==(const LibraryCall &o) const
    {
        return control == o.control && message == o.message && unicodeWindow == o.unicodeWindow;
    }
};

std::vector<LibraryCall> gCalls;
std::map<int, std::wstring> gTexts;

int WINAPI FakeSetDlgItemTextN(HWND dialog, int control, int message, int)
{
    HWND window = GetDlgItem(dialog, control);
    gCalls.push_back({control, message, IsWindowUnicode(window) != FALSE});
    auto found = gTexts.find(message);
    std::wstring text = found == gTexts.end() ? L"" : found->second;
    return SetWindowTextW(window, text.c_str());
}

// What a person would see of one showing.
// What a person sees, and what only this process can tell: the icons and
// fonts the dialog holds.
struct Seen : dialogrun::Showing {
    bool found = false;
    std::string caption;
    HICON bigIcon = nullptr, smallIcon = nullptr;
    HFONT textFont = nullptr, dialogFont = nullptr;
};

HWND FindDialog(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND dialog = FindWindowA("#32770", "German Dictionary Setup");
        DWORD owner = 0;
        if (dialog) GetWindowThreadProcessId(dialog, &owner);
        if (dialog && owner == GetCurrentProcessId() && IsWindowVisible(dialog)) return dialog;
        Sleep(10);
    }
    return nullptr;
}

Seen Look(HWND dialog)
{
    Seen seen;
    seen.found = true;
    char caption[128] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    seen.caption = caption;
    static_cast<dialogrun::Showing &>(seen) = dialogrun::Read(dialog);
    HWND text = GetDlgItem(dialog, 1000);
    seen.bigIcon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
    seen.smallIcon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
    seen.textFont = reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0));
    seen.dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    return seen;
}

// Shows the dialog on this thread while a second thread looks at it and
// then does what `act` does to end it.
template <typename Act> std::pair<INT_PTR, Seen> ShowAndAct(Act act, bool failed = false)
{
    Seen seen;
    std::thread watcher([&] {
        HWND dialog = FindDialog(10000);
        if (!dialog) return;
        seen = Look(dialog);
        act(dialog);
    });
    INT_PTR result = ShowSetupDialog(failed);
    watcher.join();
    return {result, seen};
}

void PostCommand(HWND dialog, int id, int code = BN_CLICKED)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), 0);
}

class SetupDialogTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ResetInstallContext();
        Handles() = RunHandles{};
        // The dialog template lives in setup.exe; its resources are all the
        // dialog needs from it.
        resources_ = LoadLibraryExA(testbed::SetupPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(resources_, nullptr);
        Handles().Instance = resources_;
        MessageLibrary() = MessageLibraryEntries{};
        MessageLibrary().Address[kSetDlgItemTextN] =
            reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(FakeSetDlgItemTextN));
        gCalls.clear();
        gTexts = {{1289, L"Press Start."}, {364, L"Go"}, {291, L"Stop"}, {1297, L"Done."}};
    }
    void TearDown() override
    {
        MessageLibrary() = MessageLibraryEntries{};
        Handles() = RunHandles{};
        if (resources_) FreeLibrary(resources_);
    }
    HMODULE resources_ = nullptr;
};

TEST_F(SetupDialogTest, InvitationPresentAsksForBothButtons)
{
    auto [result, seen] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 1); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(seen.caption, "German Dictionary Setup");
    EXPECT_EQ(seen.text, L"Press Start.");
    EXPECT_EQ(seen.start, L"Go");
    EXPECT_EQ(seen.cancel, L"Stop");
    EXPECT_TRUE(seen.startVisible);
    EXPECT_EQ(seen.defaultId, MAKELRESULT(1, DC_HASDEFID));
    std::vector<LibraryCall> expected = {{1000, 1289, false}, {1, 364, false}, {2, 291, false}};
    EXPECT_EQ(gCalls, expected);
    EXPECT_FALSE(Install().FirstShow);
}

TEST_F(SetupDialogTest, InvitationMissingKeepsEnglishButtons)
{
    // The library has texts for the buttons, but without the invitation
    // they are not asked for.
    gTexts.erase(1289);
    auto [result, seen] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 2); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(seen.text, std::wstring(kInvitation, kInvitation + sizeof kInvitation - 1));
    EXPECT_EQ(seen.start, L"Start");
    EXPECT_EQ(seen.cancel, L"Cancel");
    std::vector<LibraryCall> expected = {{1000, 1289, false}};
    EXPECT_EQ(gCalls, expected);
}

TEST_F(SetupDialogTest, LongInvitationCountsAsPresent)
{
    gTexts[1289] = std::wstring(300, L'x');
    auto [result, seen] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 2); });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(seen.text, std::wstring(300, L'x'));
    EXPECT_EQ(seen.start, L"Go");
    EXPECT_EQ(gCalls.size(), 3u);
}

TEST_F(SetupDialogTest, LibraryWithoutTextEntryGivesEnglishTexts)
{
    MessageLibrary().Address[kSetDlgItemTextN] = nullptr;
    auto [result, seen] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 1); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(seen.text, std::wstring(kInvitation, kInvitation + sizeof kInvitation - 1));
    EXPECT_EQ(seen.start, L"Start");
    EXPECT_EQ(seen.cancel, L"Cancel");

    auto [closing, after] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 2); });
    EXPECT_EQ(after.text, std::wstring(kSuccess, kSuccess + sizeof kSuccess - 1));
    EXPECT_EQ(after.cancel, L"OK");
}

TEST_F(SetupDialogTest, ClosingFormHasOnlyOkAsDefault)
{
    Install().FirstShow = false;
    // Enter goes to the default button, whichever control has the focus.
    auto [result, seen] = ShowAndAct([](HWND dialog) {
        HWND ok = GetDlgItem(dialog, 2);
        PostMessageA(ok, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageA(ok, WM_KEYUP, VK_RETURN, 0);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(seen.caption, "German Dictionary Setup");
    EXPECT_FALSE(seen.startVisible);
    EXPECT_EQ(seen.cancel, L"OK");  // although the library has a text for 291
    EXPECT_EQ(seen.text, L"Done.");
    EXPECT_EQ(seen.defaultId, MAKELRESULT(2, DC_HASDEFID));
    std::vector<LibraryCall> expected = {{1000, 1297, false}};
    EXPECT_EQ(gCalls, expected);

    // After a failed run the same form gives the module's failure text, and
    // the library, whose closing text tells of success, is not asked.
    gCalls.clear();
    auto [failedResult, failed] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 2); }, true);
    ASSERT_TRUE(failed.found);
    EXPECT_EQ(failedResult, 2);
    EXPECT_EQ(failed.text, std::wstring(kFailure, kFailure + sizeof kFailure - 1));
    EXPECT_FALSE(failed.startVisible);
    EXPECT_EQ(failed.cancel, L"OK");
    EXPECT_EQ(failed.defaultId, MAKELRESULT(2, DC_HASDEFID));
    EXPECT_TRUE(gCalls.empty());
}

TEST_F(SetupDialogTest, WideTextMakesTheControlsUnicodeWindows)
{
    const std::wstring cyrillic =
        L"\u041D\u0430\u0436\u043C\u0438\u0442\u0435 \u00AB\u041D\u0430\u0447\u0430\u0442\u044C\u00BB";
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "WideText set" : "WideText clear");
        ResetInstallContext();
        Install().WideText = wide;
        gCalls.clear();
        gTexts[1289] = cyrillic;
        auto [result, seen] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 2); });
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(result, 2);
        for (bool unicode : seen.unicode)
            EXPECT_EQ(unicode, wide);
        ASSERT_EQ(gCalls.size(), 3u);
        for (const LibraryCall &call : gCalls)
            EXPECT_EQ(call.unicodeWindow, wide);
        // Only a Unicode window keeps the Cyrillic letters; an ANSI one holds
        // them in the system code page (question marks here).
        if (wide)
            EXPECT_EQ(seen.text, cyrillic);
        else
            EXPECT_NE(seen.text, cyrillic);
        EXPECT_EQ(seen.start, L"Go");
    }
}

TEST_F(SetupDialogTest, AnyCommandOfTheButtonsEndsItOthersDoNot)
{
    // A double-click notification of Start ends it as well; a click on the
    // text (SS_NOTIFY) does nothing.
    auto [result, seen] = ShowAndAct([](HWND dialog) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1000, STN_CLICKED), 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), 0);
        if (IsWindow(dialog)) PostCommand(dialog, 1, BN_DOUBLECLICKED);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, 1);

    Install().FirstShow = true;
    auto [clicked, again] =
        ShowAndAct([](HWND dialog) { SendMessageA(GetDlgItem(dialog, 2), BM_CLICK, 0, 0); });
    EXPECT_EQ(clicked, 2);
}

TEST_F(SetupDialogTest, FontAndIconFromTheRun)
{
    HICON icon = CopyIcon(LoadIconA(nullptr, MAKEINTRESOURCEA(32512)));  // IDI_APPLICATION
    LOGFONTA font{};
    font.lfHeight = -11;
    lstrcpyA(font.lfFaceName, "Arial");
    HFONT made = CreateFontIndirectA(&font);
    Handles().ProductIcon = icon;
    Handles().DialogFont = made;
    auto [result, seen] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 2); });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(seen.bigIcon, icon);
    EXPECT_EQ(seen.smallIcon, icon);
    EXPECT_EQ(seen.textFont, made);
    EXPECT_NE(seen.dialogFont, made);  // the dialog keeps its template font

    // Without a product icon the dialog has none.
    Handles().ProductIcon = nullptr;
    Install().FirstShow = true;
    auto [again, bare] = ShowAndAct([](HWND dialog) { PostCommand(dialog, 2); });
    EXPECT_EQ(bare.bigIcon, nullptr);
    EXPECT_EQ(bare.smallIcon, nullptr);

    Handles().DialogFont = nullptr;
    DeleteObject(made);
    DestroyIcon(icon);
}

}  // namespace
