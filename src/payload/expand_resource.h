// Writes the payload archive out of the program's resources and has the
// product's unpacker library unpack it beside itself.
#pragma once

#include <windows.h>

// The unpacker library's one entry point, as the product defines it.
using UnZipFn = int(WINAPI *)(const char *archivePath);

// True when the payload matched its recorded CRC-32, the archive file was
// written and UnZip returned 0; a payload that does not match makes no file.
// archivePath must contain a backslash; the current directory is moved away
// from the archive's directory before returning, whatever the outcome.
bool ExpandResource(unsigned short resourceId, const char *resourceType, char *archivePath);
