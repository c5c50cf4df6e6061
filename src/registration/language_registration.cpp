// Entering the module's language into the product's configuration file (the
// master copy) and copying the result into the Options key, and taking it
// out of both again.
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

// Removes the first entry equal to name (without regard to case): every
// later entry moves down one number and the old last number is deleted.
void RemoveLanguageName(const char *name)
{
    char entry[kLanguageEntryCapacity];
    bool found = false;
    for (unsigned number = 1; ReadLanguageEntry(number, entry); ++number) {
        if (!found && lstrcmpiA(entry, name) != 0) continue;
        found = true;
        if (ReadLanguageEntry(number + 1, entry))
            WriteLanguageEntry(number, entry);
        else
            WriteLanguageEntry(number, nullptr);
    }
}

// Both directions share one sequence: the configuration file's lists first,
// then their copies in the Options key, then the direction list there.
void ChangeLanguage(bool add)
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
    if (add ? AppendLetter(letters, sizeof letters, letter) : RemoveLetter(letters, letter)) WriteLetterList(letters);

    if (add)
        EnterLanguageName(name);
    else
        RemoveLanguageName(name);

    OwnedKey options;
    if (!OpenOptionsKey(options)) return;
    // The product's own letters are never taken back, not even in the copy.
    if (add || !IsProtectedLetter(letter)) WriteRegistryString(options.Get(), kLetterListValue, letters);
    PublishLanguageList(options.Get());

    // Without a letter there is no item to make or prune; the list is left
    // as stored.
    if (letter == '\0') return;
    char directions[kDirectionListCapacity];
    if (!ReadDirectionList(options.Get(), directions)) return;
    if (add)
        ExtendDirections(directions, sizeof directions, letters, letter);
    else
        PruneDirections(directions, letter);
    // Kept as the empty string when every item held the letter, not deleted.
    WriteRegistryString(options.Get(), kDirectionsValue, directions);
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

void RegisterLanguage() { ChangeLanguage(true); }
void UnregisterLanguage() { ChangeLanguage(false); }
