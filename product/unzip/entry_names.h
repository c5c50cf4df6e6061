// Which names stored in an archive the unpacker will write.
#pragma once

#include <stddef.h>
#include <stdint.h>

// True when the stored name (length bytes, not terminated) names a file, or
// a directory when it ends with a separator (*directory tells which), below
// the current directory: relative, no drive or stream, no "." or ".."
// component nor one Windows would read as such, no device name, no character
// Windows refuses in a file name.
bool IsSafeEntryName(const uint8_t *name, size_t length, bool *directory);
