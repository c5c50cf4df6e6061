// The payload archive as the program carries it: resource type "ZIP", id
// 102. Its own directory says which files the module is made of.
#pragma once

#include <windows.h>

constexpr WORD kPayloadResourceId = 102;
inline constexpr char kPayloadResourceType[] = "ZIP";

// True when the payload archive's own directory lists name, compared
// without regard to the case of ASCII letters. Nothing is read outside the
// resource, whatever its directory holds; an archive whose directory cannot
// be read lists nothing.
bool PayloadListsEntry(const char *name);
