// The setup dialog: confirmation at the first showing, closing report after.
#pragma once

#include <windows.h>

constexpr int kSetupDialogId = 105;

// Shows dialog 105 modally; the id of the button that ended it, or -1.
INT_PTR ShowSetupDialog();

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ForwardTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ForwardButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
