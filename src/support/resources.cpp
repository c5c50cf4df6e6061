#include "support/resources.h"

const BYTE *OwnResource(HINSTANCE module, WORD id, const char *type, DWORD *size)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BYTE *bytes = loaded != nullptr ? static_cast<const BYTE *>(LockResource(loaded)) : nullptr;
    *size = bytes != nullptr ? SizeofResource(module, found) : 0;
    return *size > 0 ? bytes : nullptr;
}
