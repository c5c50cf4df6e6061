#include "registration/language_store.h"

#include "context/install_context.h"
#include "context/module_info.h"
#include "journal/journal.h"
#include "registration/language_list.h"
#include "support/error_box.h"
#include "support/logged_writes.h"
#include "support/registry_text.h"
#include "support/text.h"

namespace {

// Every profile write rewrites the whole file; besides its present size the
// rewrite may need up to a cluster more for the module's letter and entry.
constexpr ULONGLONG kConfigGrowth = 4096;

}  // namespace

bool ConfigWritable()
{
    const char *path = Install().ConfigPath;
    ULONGLONG size = 0;
    OwnedHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (file) {
        LARGE_INTEGER length{};
        if (GetFileSizeEx(file.Get(), &length)) size = static_cast<ULONGLONG>(length.QuadPart);
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false;
    }
    char directory[kPathCapacity];
    if (!CopyPath(directory, path)) return false;
    CutAfterLastBackslash(directory);
    ULARGE_INTEGER available{};
    // A disk that cannot say how much room it has is trusted as before.
    if (!GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr)) return true;
    return available.QuadPart >= size + kConfigGrowth;
}

char ReadModuleLanguage(char *name)
{
    ReadModuleKey("Language", "", name, kLanguageEntryCapacity);
    // A limit of 2 keeps the first character of a longer value.
    char letter[2];
    ReadModuleKey("Letter", "", letter, sizeof letter);
    return letter[0];
}

void ReadLetterList(char *list)
{
    GetPrivateProfileStringA(kLanguagesSection, kLetterListValue, "", list, kLetterListCapacity,
                             Install().ConfigPath);
}

namespace {

// The product's whole configuration, kept whole before the first rewrite
// (NoteLanguageChanges): a failed rewrite fails the run, which then puts the
// kept copy back.
void WriteConfigKey(const char *key, const char *value)
{
    if (!WriteProfileText(kLanguagesSection, key, value, Install().ConfigPath)) MarkRunFailed();
}

}  // namespace

void WriteLetterList(const char *list) { WriteConfigKey(kLetterListValue, list); }

void LanguageKeyName(char *buffer, unsigned number)
{
    FormatNumberedKey(buffer, kKeyNameCapacity, kLanguageValuePrefix, number);
}

bool ReadLanguageEntry(unsigned number, char *entry)
{
    char keyName[kKeyNameCapacity];
    LanguageKeyName(keyName, number);
    GetPrivateProfileStringA(kLanguagesSection, keyName, "", entry, kLanguageEntryCapacity,
                             Install().ConfigPath);
    return entry[0] != '\0';
}

void WriteLanguageEntry(unsigned number, const char *entry)
{
    char keyName[kKeyNameCapacity];
    LanguageKeyName(keyName, number);
    WriteConfigKey(keyName, entry);
}

void WriteRegistryString(HKEY key, const char *name, const char *text)
{
    SetRegistryText(key, name, text);
}

bool ReadDirectionList(HKEY options, char *list)
{
    return ReadRegistryText(options, kDirectionsValue, list, kDirectionListCapacity) && list[0] != '\0';
}

bool HoldsLanguageValue(HKEY options, const char *keyName)
{
    char scratch[kRegistryEntryCapacity];
    scratch[0] = '\0';
    DWORD size = sizeof scratch;
    LONG status =
        RegQueryValueExA(options, keyName, nullptr, nullptr, reinterpret_cast<BYTE *>(scratch), &size);
    return status == ERROR_SUCCESS && size > 0 && scratch[0] != '\0';
}

bool NoteLanguageChanges()
{
    if (!KeepCopy(Install().ConfigPath)) return false;
    OwnedKey options;
    if (!OpenOptionsKey(options)) return true;  // the stage leaves the key alone then
    if (!NoteOptionsValue(options.Get(), kLetterListValue) || !NoteOptionsValue(options.Get(), kDirectionsValue))
        return false;
    // The configuration's list may grow by one entry, and the registry's own
    // list is pruned up to its first gap: every LanguageN either can touch,
    // one past each of the lists.
    char entry[kLanguageEntryCapacity];
    char keyName[kKeyNameCapacity];
    for (unsigned number = 1;; ++number) {
        LanguageKeyName(keyName, number);
        if (number > 1 && !ReadLanguageEntry(number - 1, entry) && !HoldsLanguageValue(options.Get(), keyName))
            return true;
        if (!NoteOptionsValue(options.Get(), keyName)) return false;
    }
}
