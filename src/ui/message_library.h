// Binds the product's message library for an interactive run, with the
// dialog font and the product's icon.
#pragma once

#include <windows.h>

// The two entry points the program calls; the other five are resolved only.
using SetDlgItemTextNFn = int(WINAPI *)(HWND dialog, int control, int message, int reserved);
using GetLangParamNFn = int(WINAPI *)(int, int, int);

// The seven entry points, in the order they are resolved.
enum MessageLibraryEntry {
    kShowMessageBoxN,
    kFormatMessageN,
    kSetDlgItemTextN,
    kSetWindowTextN,
    kGetLangParamN,
    kMessageBoxN,
    kSetParamN,
    kMessageLibraryEntries
};

struct MessageLibraryEntries {
    FARPROC Address[kMessageLibraryEntries];  // as GetProcAddress returns them: null when missing

    // The two the program calls, under their own types (the detour through
    // void (*)() keeps the compiler from warning about the cast).
    SetDlgItemTextNFn SetDlgItemTextN() const
    {
        return reinterpret_cast<SetDlgItemTextNFn>(reinterpret_cast<void (*)()>(Address[kSetDlgItemTextN]));
    }
    GetLangParamNFn GetLangParamN() const
    {
        return reinterpret_cast<GetLangParamNFn>(reinterpret_cast<void (*)()>(Address[kGetLangParamN]));
    }
};

MessageLibraryEntries &MessageLibrary();

// Makes DialogFont and ProductIcon and loads q3msg.dll beside the host
// application. True when the library loaded.
bool BindMessageLibrary();

// Releases, each only when present: the library, the font, the icon.
void ReleaseRunHandles();
