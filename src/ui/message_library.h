// Binds the product's message library for an interactive run, with the
// dialog font and the product's icon.
#pragma once

#include <windows.h>

// The two entry points the program calls; the other five are resolved only.
using SetDlgItemTextNFn = int(WINAPI *)(HWND dialog, int control, int message, int reserved);
using GetLangParamNFn = int(WINAPI *)(int, int, int);

struct MessageLibraryEntries {
    FARPROC ShowMessageBoxN;
    FARPROC FormatMessageN;
    SetDlgItemTextNFn SetDlgItemTextN;
    FARPROC SetWindowTextN;
    GetLangParamNFn GetLangParamN;
    FARPROC MessageBoxN;
    FARPROC SetParamN;
};

MessageLibraryEntries &MessageLibrary();

// Makes DialogFont and ProductIcon and loads q3msg.dll beside the host
// application. True when the library loaded.
bool BindMessageLibrary();

// Releases, each only when present: the library, the font, the icon.
void ReleaseRunHandles();
