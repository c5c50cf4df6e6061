#include "support/text.h"

size_t TextLength(const char *text)
{
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

bool CopyText(char *buffer, size_t capacity, const char *text)
{
    size_t length = TextLength(text);
    if (length >= capacity) return false;
    for (size_t i = 0; i <= length; ++i) buffer[i] = text[i];
    return true;
}

bool AppendText(char *buffer, size_t capacity, const char *text)
{
    size_t used = TextLength(buffer);
    if (used >= capacity) return false;
    return CopyText(buffer + used, capacity - used, text);
}

bool CopyPath(char *buffer, const char *text) { return CopyText(buffer, kPathCapacity, text); }
bool AppendPath(char *buffer, const char *text) { return AppendText(buffer, kPathCapacity, text); }

bool JoinPath(char *buffer, const char *first, const char *second)
{
    if (CopyPath(buffer, first) && AppendPath(buffer, second)) return true;
    buffer[0] = '\0';
    return false;
}

bool EndsWithBackslash(const char *text)
{
    size_t length = TextLength(text);
    return length > 0 && text[length - 1] == '\\';
}

bool AppendBackslash(char *buffer, size_t capacity)
{
    if (buffer[0] == '\0' || EndsWithBackslash(buffer)) return true;
    return AppendText(buffer, capacity, "\\");
}

int LastBackslash(const char *text)
{
    int last = -1;
    for (int i = 0; text[i] != '\0'; ++i)
        if (text[i] == '\\') last = i;
    return last;
}

size_t CutAfterLastBackslash(char *text)
{
    int last = LastBackslash(text);
    if (last < 0) return TextLength(text);
    text[last + 1] = '\0';
    return static_cast<size_t>(last) + 1;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void LowerAsciiInPlace(char *text)
{
    for (; *text != '\0'; ++text) *text = LowerAscii(*text);
}

bool StartsWithIgnoreAsciiCase(const char *text, const char *prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix)
        if (*text == '\0' || LowerAscii(*text) != LowerAscii(*prefix)) return false;
    return true;
}

bool SameBytes(const void *a, const void *b, size_t size)
{
    const char *first = static_cast<const char *>(a), *second = static_cast<const char *>(b);
    while (size > 0 && *first == *second) --size, ++first, ++second;
    return size == 0;
}

bool EqualsIgnoreAsciiCase(const char *a, const char *b)
{
    return TextLength(a) == TextLength(b) && StartsWithIgnoreAsciiCase(a, b);
}

const char *FromFirstDot(const char *text)
{
    for (; *text != '\0'; ++text)
        if (*text == '.') return text;
    return nullptr;
}

const char *FromLastDot(const char *text)
{
    const char *last = nullptr;
    for (; *text != '\0'; ++text)
        if (*text == '.') last = text;
    return last;
}

size_t FormatDecimal(char *digits, unsigned long value)
{
    char reversed[kDecimalCapacity];
    size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
    digits[count] = '\0';
    return count;
}

bool FormatNumberedKey(char *buffer, size_t capacity, const char *prefix, unsigned number)
{
    char text[kDecimalCapacity];
    FormatDecimal(text, number);
    if (!CopyText(buffer, capacity, prefix)) return false;
    return AppendText(buffer, capacity, text);
}
