// The program's INI and registry writes, each saying in the run's log what
// it changed: the old text, the new text, and the error when the write
// failed. Without an open log they are the plain calls.
#pragma once

#include <windows.h>

// WritePrivateProfileStringA; a null value deletes the key.
BOOL WriteProfileText(const char *section, const char *key, const char *value, const char *path);

// RegSetValueExA of a REG_SZ text with its terminator.
LONG SetRegistryText(HKEY key, const char *name, const char *text);

// RegSetValueExA of size bytes of any type; null data deletes the value.
LONG SetRegistryBytes(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size);

inline LONG DeleteRegistryValue(HKEY key, const char *name) { return SetRegistryBytes(key, name, 0, nullptr, 0); }
