// Taking the module's language back out of the product's configuration file
// and Options key.
#include "registration/language_registration.h"

#include "registration/language_list.h"
#include "registration/language_store.h"
#include "support/error_box.h"

namespace {

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

} // namespace

void UnregisterLanguage()
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
    if (RemoveLetter(letters, letter)) WriteLetterList(letters);

    RemoveLanguageName(name);

    OwnedKey options;
    if (!OpenOptionsKey(options)) return;
    // The product's own letters are never taken back, not even in the copy.
    if (!IsProtectedLetter(letter)) WriteRegistryString(options.Get(), kLetterListValue, letters);
    PublishLanguageList(options.Get());

    if (letter == '\0') return;
    char directions[kDirectionListCapacity];
    if (!ReadDirectionList(options.Get(), directions)) return;
    PruneDirections(directions, letter);
    // Kept as the empty string when every item held the letter, not deleted.
    WriteRegistryString(options.Get(), kDirectionsValue, directions);
}
