// The product's language lists as plain text: the letter list ("TranLangs"),
// the direction list ("Directions") and the registry form of a language
// entry. No Win32 here, so the rules can be tested from tables of cases.
// Every function works in place on a fixed buffer of a stated capacity
// (terminator included) and never reads or writes past it.
#pragma once

#include <stddef.h>

// The letter list is read with a limit of 16: at most 15 letters.
constexpr size_t kLetterListCapacity = 16;
// The direction list, a language entry and a key name share one
// 260-character scratch buffer; the registry form of an entry needs one
// byte more (its extra closing zero).
constexpr size_t kDirectionListCapacity = 260;
constexpr size_t kLanguageEntryCapacity = 260;
constexpr size_t kRegistryEntryCapacity = kLanguageEntryCapacity + 1;

// True for 'E', 'R' and 'U', the letters that never leave the letter list.
bool IsProtectedLetter(char letter);

// True when letter occurs in list. The empty letter ('\0') counts as
// occurring, so that nothing is ever appended for it.
bool HasLetter(const char *list, char letter);

// Appends letter unless it occurs already or the list has no room left.
// True when the list changed (and so has to be written back).
bool AppendLetter(char *list, size_t capacity, char letter);

// Removes the first occurrence of letter, the rest moving one place left.
// Protected and empty letters are never removed. True when the list changed.
bool RemoveLetter(char *list, char letter);

// Appends to the direction list the items "XL:" and "LX:" for every letter X
// of letters other than L (in that order), each unless its three characters
// occur in the list already. An item that would take the list to capacity
// characters or more is left out. An empty L adds nothing. Returns the
// number of items appended.
int ExtendDirections(char *list, size_t capacity, const char *letters, char letter);

// Drops every three-character piece (a short last piece alike) that holds
// letter in any position. An empty letter drops nothing. Returns the number
// of pieces dropped.
int PruneDirections(char *list, char letter);

// Turns the entry held in buffer into the bytes the Options key stores:
// every space becomes a zero byte and a second zero byte follows the
// terminator. Returns the number of bytes to write (length + 2), or 0 when
// the buffer has no room for the extra zero byte.
size_t ToRegistryEntry(char *buffer, size_t capacity);
