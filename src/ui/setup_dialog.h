// The setup dialog: confirmation at the first showing, closing report after.
#pragma once

#include <windows.h>

constexpr int kSetupDialogId = 105;

// Shows dialog 105 modally; the id of the button that ended it, or -1.
INT_PTR ShowSetupDialog();

// The dialog procedure: texts, font and icon at WM_INITDIALOG, the end at a
// command of button 1 or 2, the controls' own procedures back at WM_DESTROY.
// Returns FALSE for every message.
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Pass every message unchanged to the control's saved procedure, through
// the Unicode call when the message library works in Unicode.
LRESULT CALLBACK ForwardTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ForwardButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
