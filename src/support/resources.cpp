#include "support/resources.h"

#include "support/text.h"

namespace {

// The module builder refuses longer texts, so a longer one read back is cut
// or foreign.
constexpr int kLongestText = 255;

}  // namespace

const BYTE *OwnResource(HINSTANCE module, WORD id, const char *type, DWORD *size)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BYTE *bytes = loaded != nullptr ? static_cast<const BYTE *>(LockResource(loaded)) : nullptr;
    *size = bytes != nullptr ? SizeofResource(module, found) : 0;
    return *size > 0 ? bytes : nullptr;
}

bool LoadLocalText(HINSTANCE module, UINT id, wchar_t *buffer)
{
    // Every German or French Windows, whatever its country: Swiss, Belgian
    // and Canadian Windows read the same texts. The builder writes every
    // text in every language, the English one where a translation is
    // missing, so one look suffices.
    LANGID language = PRIMARYLANGID(GetUserDefaultUILanguage());
    if (language == LANG_GERMAN) id += 16;
    if (language == LANG_FRENCH) id += 24;
    int length = LoadStringW(module, id, buffer, static_cast<int>(kPathCapacity));
    if (length > 0 && length <= kLongestText) return true;
    buffer[0] = L'\0';
    return false;
}
