// The setup dialog: its procedure, and the forwarding procedures that turn
// its three controls into Unicode windows when the message library asks.
#include "ui/setup_dialog.h"

#include "context/install_context.h"
#include "support/error_box.h"
#include "support/resources.h"
#include "support/run_log.h"
#include "support/text.h"
#include "ui/dialog_texts.h"
#include "ui/message_library.h"

namespace {

constexpr int kStartButton = IDOK;
constexpr int kCancelButton = IDCANCEL;
constexpr int kTextControl = 1000;

constexpr int kReadBackLimit = 128;

// Both buttons share one saved procedure: they are of one class, so the
// procedure returned for Cancel serves Start as well.
WNDPROC gSavedTextProc = nullptr;
WNDPROC gSavedButtonProc = nullptr;
// Whether this showing's controls are Unicode windows: when the message
// library works in Unicode, and always in the closing form of a failed
// run, whose text may hold letters the system code page lacks.
bool gWideShowing = false;

bool WideText() { return gWideShowing; }

// The variant of the call decides whether the control becomes a Unicode
// window; the procedure itself changes nothing.
WNDPROC ReplaceProc(HWND control, WNDPROC proc)
{
    LONG_PTR value = reinterpret_cast<LONG_PTR>(proc);
    LONG_PTR previous = WideText() ? SetWindowLongPtrW(control, GWLP_WNDPROC, value)
                                   : SetWindowLongPtrA(control, GWLP_WNDPROC, value);
    return reinterpret_cast<WNDPROC>(previous);
}

LRESULT Forward(WNDPROC saved, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (WideText()) return CallWindowProcW(saved, window, message, wParam, lParam);
    return CallWindowProcA(saved, window, message, wParam, lParam);
}

// Asks the message library for a text; a library without the entry point
// gives none.
void SetLibraryText(HWND dialog, int control, int message)
{
    SetDlgItemTextNFn setText = MessageLibrary().SetDlgItemTextN();
    if (setText != nullptr) setText(dialog, control, message, 0);
}

// Whether control 1000 holds any text after the library's turn.
bool TextControlHoldsText(HWND dialog, char *scratch)
{
    scratch[0] = '\0';
    return GetDlgItemTextA(dialog, kTextControl, scratch, kReadBackLimit) > 0 && scratch[0] != '\0';
}

void ShowConfirmationTexts(HWND dialog, const DialogTexts &texts, char *scratch)
{
    SetLibraryText(dialog, kTextControl, texts.InvitationMessage);
    if (TextControlHoldsText(dialog, scratch)) {
        SetLibraryText(dialog, kStartButton, texts.StartMessage);
        SetLibraryText(dialog, kCancelButton, texts.CancelMessage);
    } else {
        // Without the invitation the buttons keep their English captions, so
        // the dialog never mixes two languages.
        SetDlgItemTextA(dialog, kTextControl, texts.Invitation);
    }
}

void ShowClosingTexts(HWND dialog, const DialogTexts &texts, char *scratch, bool failed)
{
    SendMessageA(dialog, DM_SETDEFID, kCancelButton, 0);
    ShowWindow(GetDlgItem(dialog, kStartButton), SW_HIDE);
    if (failed) {
        // The library's closing message tells of success and it has none for
        // a failure, so it is not asked.
        wchar_t failure[kPathCapacity];
        LoadLocalText(Handles().Instance, kFailureText, failure);
        SetDlgItemTextW(dialog, kTextControl, failure);
        LogEvent("closing form: failure text");
    } else {
        SetLibraryText(dialog, kTextControl, texts.SuccessMessage);
        if (!TextControlHoldsText(dialog, scratch)) SetDlgItemTextA(dialog, kTextControl, texts.Success);
    }
    SetDlgItemTextA(dialog, kCancelButton, "OK");
}

void InitDialog(HWND dialog, bool failed)
{
    const RunHandles &handles = Handles();
    InstallContext &context = Install();
    gWideShowing = context.WideText || failed;
    WPARAM font = reinterpret_cast<WPARAM>(handles.DialogFont);
    SendDlgItemMessageA(dialog, kTextControl, WM_SETFONT, font, TRUE);
    SendDlgItemMessageA(dialog, kCancelButton, WM_SETFONT, font, TRUE);
    SendDlgItemMessageA(dialog, kStartButton, WM_SETFONT, font, TRUE);

    gSavedTextProc = ReplaceProc(GetDlgItem(dialog, kTextControl), ForwardTextProc);
    gSavedButtonProc = ReplaceProc(GetDlgItem(dialog, kStartButton), ForwardButtonProc);
    gSavedButtonProc = ReplaceProc(GetDlgItem(dialog, kCancelButton), ForwardButtonProc);

    // The caption, the message ids and the English texts are the module's
    // own, kept in the program file's resources.
    DialogTexts texts;
    LoadDialogTexts(handles.Instance, texts);
    char scratch[kPathCapacity];
    SetWindowTextA(dialog, texts.Caption);
    if (context.FirstShow) {
        context.FirstShow = false;
        ShowConfirmationTexts(dialog, texts, scratch);
    } else {
        ShowClosingTexts(dialog, texts, scratch, failed);
    }

    if (handles.ProductIcon != nullptr) {
        LPARAM icon = reinterpret_cast<LPARAM>(handles.ProductIcon);
        SendMessageA(dialog, WM_SETICON, ICON_BIG, icon);
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, icon);
    }
}

void RestoreProcs(HWND dialog)
{
    if (gSavedTextProc != nullptr) ReplaceProc(GetDlgItem(dialog, kTextControl), gSavedTextProc);
    if (gSavedButtonProc != nullptr) {
        ReplaceProc(GetDlgItem(dialog, kStartButton), gSavedButtonProc);
        ReplaceProc(GetDlgItem(dialog, kCancelButton), gSavedButtonProc);
    }
}

}  // namespace

INT_PTR ShowSetupDialog(bool failed)
{
    int id = failed ? kFailedDialogId : kSetupDialogId;
    return DialogBoxParamA(Handles().Instance, MAKEINTRESOURCEA(id), nullptr, SetupDialogProc, failed);
}

void ShowProductNotFound()
{
    DialogTexts texts;
    LoadDialogTexts(Handles().Instance, texts);
    ShowErrorBoxStyled("Quorin was not found on this computer. Install Quorin first, then run this setup again.",
                       texts.Caption, MB_ICONERROR, kNoProductText);
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog, lParam != 0);
        break;
    case WM_COMMAND: {
        // Enter and Escape arrive here as IDOK and IDCANCEL too; the
        // notification code does not matter.
        int id = LOWORD(wParam);
        if (id == kStartButton || id == kCancelButton) EndDialog(dialog, id);
        break;
    }
    case WM_DESTROY:
        RestoreProcs(dialog);
        break;
    }
    return FALSE;
}

LRESULT CALLBACK ForwardTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Forward(gSavedTextProc, window, message, wParam, lParam);
}

LRESULT CALLBACK ForwardButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Forward(gSavedButtonProc, window, message, wParam, lParam);
}
