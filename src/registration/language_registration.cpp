// Entering the module's language into the product's configuration file (the
// master copy) and copying the result into the Options key.
#include "registration/language_registration.h"

#include "registration/language_list.h"
#include "registration/language_store.h"
#include "support/error_box.h"
#include "support/logged_writes.h"

namespace {

// The name goes into the first empty slot, unless it stands before that
// slot already. A gap ends the list, so an equal name after it is not seen.
void EnterLanguageName(const char *name)
{
    char entry[kLanguageEntryCapacity];
    for (unsigned number = 1;; ++number) {
        if (!ReadLanguageEntry(number, entry)) {
            WriteLanguageEntry(number, name);
            return;
        }
        if (lstrcmpiA(entry, name) == 0) return;
    }
}

// True when LanguageN holds a value whose first byte is not zero. A value
// too long for the entry buffer is not ours and ends the walk like a
// missing one.
bool HoldsLanguageValue(HKEY options, const char *keyName)
{
    char scratch[kRegistryEntryCapacity];
    scratch[0] = '\0';
    DWORD size = sizeof scratch;
    LONG status =
        RegQueryValueExA(options, keyName, nullptr, nullptr, reinterpret_cast<BYTE *>(scratch), &size);
    return status == ERROR_SUCCESS && size > 0 && scratch[0] != '\0';
}

} // namespace

void PublishLanguageList(HKEY options)
{
    char keyName[kKeyNameCapacity];
    // Stale values go from Language2 up. Language1 is only ever overwritten:
    // when the configuration list is empty it keeps the name it last held.
    for (unsigned number = 2;; ++number) {
        LanguageKeyName(keyName, number);
        if (!HoldsLanguageValue(options, keyName)) break;
        DeleteRegistryValue(options, keyName);
    }

    // One byte beyond the entry's capacity: a 259-character entry takes 261
    // bytes in its registry form.
    char entry[kRegistryEntryCapacity];
    for (unsigned number = 1; ReadLanguageEntry(number, entry); ++number) {
        size_t bytes = ToRegistryEntry(entry, sizeof entry);
        LanguageKeyName(keyName, number);
        SetRegistryBytes(options, keyName, REG_BINARY, reinterpret_cast<const BYTE *>(entry),
                         static_cast<DWORD>(bytes));
    }
}

void RegisterLanguage()
{
    char name[kLanguageEntryCapacity];
    const char letter = ReadModuleLanguage(name);
    // A configuration file out of reach would read as empty or keep its old
    // text while the registry moved on, or be left truncated: leave both
    // as they are and let the run fail, so that a rerun finishes the job.
    if (!ConfigWritable()) {
        MarkRunFailed();
        return;
    }

    char letters[kLetterListCapacity];
    ReadLetterList(letters);
    // A full list (15 letters) takes no more; the rest of the run goes on.
    if (AppendLetter(letters, sizeof letters, letter)) WriteLetterList(letters);

    EnterLanguageName(name);

    OwnedKey options;
    if (!OpenOptionsKey(options)) return;
    WriteRegistryString(options.Get(), kLetterListValue, letters);
    PublishLanguageList(options.Get());

    // Without a letter there is no item to make; the list is left as stored.
    if (letter == '\0') return;
    char directions[kDirectionListCapacity];
    if (!ReadDirectionList(options.Get(), directions)) return;
    ExtendDirections(directions, sizeof directions, letters, letter);
    WriteRegistryString(options.Get(), kDirectionsValue, directions);
}
