// The program's own resources, read where they lie in its image: nothing is
// copied, and nothing needs releasing (FreeResource does nothing on Win32).
#pragma once

#include <windows.h>

// The bytes of resource id of type (a name or MAKEINTRESOURCEA number) in
// module, their count in size; null, and size 0, when there is none or it is
// empty.
const BYTE *OwnResource(HINSTANCE module, WORD id, const char *type, DWORD *size);
