// Running a program of the test bed under another Windows display language
// and ANSI code page. Wine takes both from the Linux locale a process starts
// under (LC_MESSAGES and LC_CTYPE, else LANG), and a Windows program starts
// its children with its own Linux environment, whatever its Windows
// environment says. A Linux program started through CreateProcess is given
// the Windows environment as its Linux one, though: so the program is
// started by Wine's own loader, itself started that way with the locale set.
// The program is then no child of the test; it is found among the processes
// by its file name.
#pragma once

#include <windows.h>

#include <string>

#include "testbed.h"

namespace localerun {

// The Linux locale variables of a run; null leaves one unset. LC_ALL and
// LANGUAGE are always unset, so that they cannot override these.
struct Locale {
    const char *lang;
    const char *ctype;
    const char *messages;
};

inline constexpr Locale kGerman{"de_DE.UTF-8", nullptr, nullptr};
inline constexpr Locale kFrench{"fr_FR.UTF-8", nullptr, nullptr};
inline constexpr Locale kSpanish{"es_ES.UTF-8", nullptr, nullptr};
// Russian and Ukrainian Windows, both with the Cyrillic code page 1251.
inline constexpr Locale kRussian{"ru_RU.UTF-8", nullptr, nullptr};
inline constexpr Locale kUkrainian{"uk_UA.UTF-8", nullptr, nullptr};
// A German display language on a Cyrillic Windows (ANSI code page 1251).
inline constexpr Locale kGermanOnCyrillic{nullptr, "ru_RU.UTF-8", "de_DE.UTF-8"};
// A Russian display language on a Western Windows (ANSI code page 1252).
inline constexpr Locale kRussianOnWestern{nullptr, "en_US.UTF-8", "ru_RU.UTF-8"};

// testbed::RunProgram under locale: the same handling of windows, time-out
// and exit code. A run whose process never appears comes back with
// startError set.
testbed::RunResult RunInLocale(const Locale &locale, const std::string &exePath, const std::string &tail,
                               DWORD timeoutMs, const testbed::WindowHandler &handler);

// A window's text as Unicode: a message box's (control 0xFFFF) when window
// is one, else the window's own.
std::wstring WideText(HWND window);

}  // namespace localerun
