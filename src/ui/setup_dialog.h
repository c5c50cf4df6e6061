// The setup dialog: confirmation at the first showing, closing report after.
#pragma once

#include <windows.h>

constexpr int kSetupDialogId = 105;
constexpr int kFailedDialogId = 107;  // 105 with a taller text, for the failure text

// Shows dialog 105 modally; the id of the button that ended it, or -1. When
// failed it is the closing form of a failed run instead: dialog 107 with the
// module's failure text.
INT_PTR ShowSetupDialog(bool failed = false);

// The one box of an interactive run that finds no product to install into:
// no owner, an error icon, the dialog's caption.
void ShowProductNotFound();

// The dialog procedure: texts, font and icon at WM_INITDIALOG (lParam
// nonzero: the closing form of a failed run), the end at a
// command of button 1 or 2, the controls' own procedures back at WM_DESTROY.
// Returns FALSE for every message.
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Pass every message unchanged to the control's saved procedure, through
// the Unicode call when the message library works in Unicode.
LRESULT CALLBACK ForwardTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ForwardButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
