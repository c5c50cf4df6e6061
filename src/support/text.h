// Bounded text operations on the fixed-size ANSI buffers the program holds.
// Every copy states its capacity (terminator included); a text that does not
// fit leaves the buffer as it was and reports false, so that overflow is a
// decided outcome and never an accident.
#pragma once

#include <stddef.h>

constexpr size_t kPathCapacity = 260;  // paths: 259 characters and a terminator
constexpr size_t kTitleCapacity = 128;
constexpr size_t kNameCapacity = 32;

size_t TextLength(const char *text);

// Copies text into buffer; false (buffer untouched) when it does not fit.
bool CopyText(char *buffer, size_t capacity, const char *text);

// Appends text to what buffer holds; false (buffer untouched) when the result
// would not fit.
bool AppendText(char *buffer, size_t capacity, const char *text);

// CopyText and AppendText for the 260-character path buffers, which most
// calls fill: one argument fewer at every call.
bool CopyPath(char *buffer, const char *text);
bool AppendPath(char *buffer, const char *text);

// first followed by second into the path buffer; false when they do not fit
// together, and the buffer then holds no path (it is empty).
bool JoinPath(char *buffer, const char *first, const char *second);

bool EndsWithBackslash(const char *text);

// Appends one backslash unless the text is empty or already ends with one.
bool AppendBackslash(char *buffer, size_t capacity);

// Cuts the text after its last backslash (the backslash stays); no backslash
// leaves it unchanged. Returns the length of what remains.
size_t CutAfterLastBackslash(char *text);

// Position of the last backslash, or -1.
int LastBackslash(const char *text);

char LowerAscii(char c);
void LowerAsciiInPlace(char *text);

// Compares without regard to the case of the ASCII letters A to Z.
bool EqualsIgnoreAsciiCase(const char *a, const char *b);
// True when the size bytes at a and at b are the same.
bool SameBytes(const void *a, const void *b, size_t size);
bool StartsWithIgnoreAsciiCase(const char *text, const char *prefix);

// The tail of text from its first (or last) '.', or nullptr when it has none.
const char *FromFirstDot(const char *text);
const char *FromLastDot(const char *text);

// Decimal digits of value, in order and terminated, into digits, which holds
// kDecimalCapacity bytes (any unsigned long fits). Returns their count.
constexpr size_t kDecimalCapacity = 21;
size_t FormatDecimal(char *digits, unsigned long value);

// Decimal text of a non-negative number appended to prefix, as "mod%d" and
// "Language%d" make key names.
bool FormatNumberedKey(char *buffer, size_t capacity, const char *prefix, unsigned number);
