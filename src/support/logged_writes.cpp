#include "support/logged_writes.h"

#include "support/error_box.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {

// Longer than any value the program writes (a registry entry is at most 261
// bytes), with room for the quotes around it.
constexpr DWORD kShownCapacity = 300;

// A value in quotes for the log; zero bytes inside it (the language entries
// keep their spaces as zeros) come out as spaces, trailing ones not at all.
void ShowBytes(char *shown, const BYTE *data, DWORD size)
{
    while (size > 0 && data[size - 1] == 0) --size;
    if (size > kShownCapacity - 3) size = kShownCapacity - 3;
    shown[0] = '"';
    for (DWORD i = 0; i < size; ++i) shown[i + 1] = data[i] == 0 ? ' ' : static_cast<char>(data[i]);
    shown[size + 1] = '"';
    shown[size + 2] = '\0';
}

void ShowText(char *shown, const char *text)
{
    if (text == nullptr)
        CopyText(shown, kShownCapacity, "(deleted)");
    else
        ShowBytes(shown, reinterpret_cast<const BYTE *>(text), static_cast<DWORD>(TextLength(text)));
}

}  // namespace

BOOL WriteProfileText(const char *section, const char *key, const char *value, const char *path)
{
    if (!RunLogOpen()) return WritePrivateProfileStringA(section, key, value, path);
    // A missing key reads as empty, as the program's own reads see it.
    char shown[kShownCapacity];
    GetPrivateProfileStringA(section, key, "", shown, sizeof shown, path);
    char old[kShownCapacity];
    ShowText(old, shown);

    BOOL written = WritePrivateProfileStringA(section, key, value, path);
    ShowText(shown, value);  // no system call: the write's error stays the last one
    // One format for both lines: a failed one ends in " failed" and, from
    // LogFailure, the error.
    constexpr const char *kLine = "ini %s [%s] %s: %s -> %s%s";
    if (written)
        LogEvent(kLine, path, section, key, old, shown, "");
    else
        LogFailure(kLine, path, section, key, old, shown, " failed");
    return written;
}

LONG SetRegistryText(HKEY key, const char *name, const char *text)
{
    return SetRegistryBytes(key, name, REG_SZ, reinterpret_cast<const BYTE *>(text),
                            static_cast<DWORD>(TextLength(text) + 1));
}

LONG SetRegistryBytes(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size)
{
    // Only the product's Options key is written, its old data noted in the
    // journal by the stage beforehand. A write that fails fails the run.
    bool logging = RunLogOpen();
    char old[kShownCapacity];
    if (logging) {
        BYTE oldData[2048];  // as much as the journal notes
        DWORD oldSize = sizeof oldData;
        LONG read = RegQueryValueExA(key, name, nullptr, nullptr, oldData, &oldSize);
        if (read == ERROR_FILE_NOT_FOUND)
            CopyText(old, kShownCapacity, "(missing)");
        else if (read != ERROR_SUCCESS)
            CopyText(old, kShownCapacity, "(unreadable)");
        else
            ShowBytes(old, oldData, oldSize);
    }
    LONG status = data != nullptr ? RegSetValueExA(key, name, 0, type, data, size) : RegDeleteValueA(key, name);
    if (logging) {
        char now[kShownCapacity];
        if (data != nullptr)
            ShowBytes(now, data, size);
        else
            CopyText(now, sizeof now, "(deleted)");
        // One format for both lines, as above. A registry call returns its
        // error instead of setting the last one, which LogFailure reads.
        constexpr const char *kLine = "registry %s: %s -> %s%s";
        if (status == ERROR_SUCCESS) {
            LogEvent(kLine, name, old, now, "");
        } else {
            SetLastError(static_cast<DWORD>(status));
            LogFailure(kLine, name, old, now, " failed");
        }
    }
    if (status != ERROR_SUCCESS && !(data == nullptr && status == ERROR_FILE_NOT_FOUND)) MarkRunFailed();
    return status;
}
