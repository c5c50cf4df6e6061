// Which names stored in an archive the unpacker will write: only names of
// files and directories below the current directory.
#include "entry_names.h"

namespace {

bool IsSeparator(uint8_t c) { return c == '/' || c == '\\'; }

bool EqualsNoCase(const uint8_t *text, size_t length, const char *word)
{
    size_t i = 0;
    for (; i < length && word[i] != '\0'; ++i) {
        uint8_t c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 'a' + 'A');
        if (c != static_cast<uint8_t>(word[i])) return false;
    }
    return i == length && word[i] == '\0';
}

// Names Windows gives to devices in every directory: "nul.qd" opens NUL.
bool IsDeviceName(const uint8_t *component, size_t length)
{
    size_t stem = 0;
    while (stem < length && component[stem] != '.')
        ++stem;
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : kDevices)
        if (EqualsNoCase(component, stem, device)) return true;
    if (stem == 4 && component[3] >= '0' && component[3] <= '9' &&
        (EqualsNoCase(component, 3, "COM") || EqualsNoCase(component, 3, "LPT")))
        return true;
    return false;
}

}  // namespace

// A stored name may only name a file (or a directory, ending with a
// separator) below the current directory: relative, no drive or stream
// (':'), no "." or ".." (nor the forms Windows reads as them: components
// ending in a dot or blank), no device names, no characters Windows refuses.
bool IsSafeEntryName(const uint8_t *name, size_t length, bool *directory)
{
    if (length == 0 || IsSeparator(name[0])) return false;
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = name[i];
        if (c < 0x20 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return false;
    }
    *directory = IsSeparator(name[length - 1]);
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && !IsSeparator(name[end]))
            ++end;
        const uint8_t *component = name + start;
        size_t size = end - start;
        if (size == 0) return false;  // "a//b"
        if (component[size - 1] == '.' || component[size - 1] == ' ') return false;
        if (IsDeviceName(component, size)) return false;
        start = end + 1;
    }
    return true;
}
