#include "support/resources.h"

#include "support/text.h"

namespace {

// The module builder refuses longer texts, so a longer one read back is cut
// or foreign.
constexpr int kLongestText = 255;

// The languages the program speaks beside English, in the order of their
// texts in the string table: each one's stand kLanguageStride ids after the
// one before it (the module builder's LANGUAGES).
constexpr BYTE kLanguages[] = {LANG_GERMAN, LANG_FRENCH, LANG_RUSSIAN, LANG_UKRAINIAN};
constexpr UINT kFirstLanguageOffset = 16;
constexpr UINT kLanguageStride = 8;

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
    // Every Windows of a language, whatever its country: Swiss, Belgian and
    // Canadian Windows read the same texts. The builder writes every text in
    // every language, the English one where a translation is missing, so
    // one look suffices.
    LANGID language = PRIMARYLANGID(GetUserDefaultUILanguage());
    UINT offset = kFirstLanguageOffset;
    for (BYTE spoken : kLanguages) {
        if (language == spoken) id += offset;
        offset += kLanguageStride;
    }
    int length = LoadStringW(module, id, buffer, static_cast<int>(kPathCapacity));
    if (length > 0 && length <= kLongestText) return true;
    buffer[0] = L'\0';
    return false;
}
