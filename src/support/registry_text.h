// Registry reads of text values. RegQueryValueExA leaves a value that fills
// the buffer exactly without a terminator, and the type a read reports is
// not looked at, so every read here terminates the text itself.
#pragma once

#include <windows.h>
#include <stddef.h>

// Reads value name of key into buffer (capacity bytes, terminator included).
// Missing, unreadable, or too long to fit with its terminator: buffer is
// empty and the result false. Otherwise the text up to the first zero byte.
bool ReadRegistryText(HKEY key, const char *name, char *buffer, size_t capacity);
