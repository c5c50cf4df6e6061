// Where the product keeps its language data: section "Languages" of the
// configuration file, and the Options key. Shared by registration and
// unregistration so that both read and write the same names with the same
// limits.
#pragma once

#include <windows.h>
#include <stddef.h>

#include "context/install_context.h"
#include "support/handles.h"

constexpr size_t kKeyNameCapacity = 24; // "Language" and any 32-bit number

// The module's language name ("Language", 260) into name, from its section
// of the module information file; returns the language letter ("Letter",
// first character only). Empty name and '\0' when missing.
char ReadModuleLanguage(char *name);

// True when the configuration file can take the run's changes: it is
// missing (the profile writer makes it) or opens for reading and writing,
// and its disk has room for it to be rewritten whole. False when another
// program holds it, it is read-only, or the disk is (nearly) full.
bool ConfigWritable();

// The configuration file's letter list (limit 16) into list
// (kLetterListCapacity); empty when missing.
void ReadLetterList(char *list);
void WriteLetterList(const char *list);

// Entry number of the configuration file's language list into entry
// (kLanguageEntryCapacity); empty when missing. False when empty, which
// ends the list.
bool ReadLanguageEntry(unsigned number, char *entry);

// Writes entry under number; a null entry deletes the key.
void WriteLanguageEntry(unsigned number, const char *entry);

// "Language%d" for number.
void LanguageKeyName(char *buffer, unsigned number);

// The Options key's direction list into list (kDirectionListCapacity).
// False when it is missing, empty, or too long to read whole: the product
// starts that list itself, so such a list is neither extended nor pruned.
bool ReadDirectionList(HKEY options, char *list);

// Writes text as REG_SZ with its terminator.
void WriteRegistryString(HKEY key, const char *name, const char *text);

// True when LanguageN holds a value whose first byte is not zero. A value
// too long for the entry buffer is not ours and ends the walk like a
// missing one.
bool HoldsLanguageValue(HKEY options, const char *keyName);

// Notes in the journal everything the language's registration or removal
// may change, before the first change: a kept copy of the configuration
// file, TranLangs, Directions and every LanguageN the list may write or
// prune. False when a note fails (the run is then marked failed).
bool NoteLanguageChanges();
