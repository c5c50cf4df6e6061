// The program's own resources, read where they lie in its image: nothing is
// copied, and nothing needs releasing (FreeResource does nothing on Win32).
#pragma once

#include <windows.h>

// The bytes of resource id of type (a name or MAKEINTRESOURCEA number) in
// module, their count in size; null, and size 0, when there is none or it is
// empty.
const BYTE *OwnResource(HINSTANCE module, WORD id, const char *type, DWORD *size);

// The texts the program shows in the person's language: string table ids of
// their English, the module builder's LOCAL_TEXT_IDS. The German, French,
// Russian and Ukrainian text of each stand 16, 24, 32 and 40 ids further
// on. Only the module's failure text has its English in the table; the
// others keep theirs in the program, which logs it too. Id 0 is none of
// them: entries 0, 16, 24, 32 and 40 stay empty.
constexpr UINT kFailureText = 4;
constexpr UINT kBusyText = 5;
constexpr UINT kRestartText = 6;
constexpr UINT kNoProductText = 7;

// Copies text id of module into buffer (kPathCapacity wide characters) in
// the Windows display language (the primary language of
// GetUserDefaultUILanguage) when that is German, French, Russian or
// Ukrainian, else in English.
// False, and buffer empty, when module lacks it, or has only a text over
// 255 characters (cut, or not the builder's).
bool LoadLocalText(HINSTANCE module, UINT id, wchar_t *buffer);
