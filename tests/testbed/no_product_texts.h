// The refusal without the product, in every language the program and its
// package speak, as a person reads it: the ui and the package suites read
// it back from the program's box and from msiexec's letter for letter.
// Cyrillic written as letters, so that a reader can check them; other
// letters beyond ASCII by their code points.
#pragma once

#include <string>

inline const std::wstring kEnglishNoProduct =
    L"Quorin was not found on this computer. Install Quorin first, then run this setup again.";
inline const std::wstring kGermanNoProduct = L"Quorin wurde auf diesem Computer nicht gefunden. Installieren Sie "
                                             L"zuerst Quorin und f\u00FChren Sie dann dieses Setup erneut aus.";
inline const std::wstring kFrenchNoProduct = L"Quorin est introuvable sur cet ordinateur. Installez d\u2019abord "
                                             L"Quorin, puis relancez ce programme d\u2019installation.";
inline const std::wstring kRussianNoProduct =
    L"Quorin не найден на этом компьютере. Сначала установите Quorin, а\u00A0затем снова запустите эту "
    L"программу установки.";
inline const std::wstring kUkrainianNoProduct =
    L"Quorin не знайдено на цьому комп\u2019ютері. Спочатку встановіть Quorin, а\u00A0потім знову запустіть "
    L"цю програму встановлення.";
