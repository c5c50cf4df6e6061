// What the journal's writer and its reader share. The file is plain text,
// one line for each change, every line ending CRLF: the header line, then
// "added PATH", "aside PATH", "replace PATH", "delete PATH", "entry FOLDER",
// "value NAME TYPE HEX" or "value NAME -", and "commit" once the run has
// done everything.
#pragma once

#include <stddef.h>

inline constexpr char kJournalName[] = "quorin.jnl";
inline constexpr char kJournalHeader[] = "quorin journal 1";
// A line's first word; the reader knows a line by its word's place here.
enum JournalVerb { kAdded, kAside, kReplace, kDelete, kEntry, kValue, kCommit, kVerbCount };
inline constexpr char kJournalVerbs[kVerbCount][8] = {"added", "aside", "replace", "delete",
                                                     "entry", "value", "commit"};
inline constexpr char kAsideSuffix[] = ".old";
// An Options value is noted with its old data only when it is text or bytes
// (the types the registration writes) of at most kValueCapacity bytes.
inline constexpr unsigned long kValueCapacity = 2048;
inline bool IsNotedType(unsigned long type) { return type == 1 || type == 3; }  // REG_SZ, REG_BINARY

// The characters the journal's fields are made of: decimal digits, the
// rest of the hex digits, then what a GUID adds.
inline constexpr char kFieldChars[] = "0123456789abcdef{}-";
inline constexpr size_t kGuidChars = 19;

// quorin.jnl in the product directory.
bool JournalPath(char *path);
// path + ".old", where a file is moved aside (or a copy of it kept).
bool AsidePath(char *aside, const char *path);

// Puts the Options key on disk; true when flushed (a missing key needs
// nothing).
bool FlushOptionsKey();

// Reads the journal at path and follows it: a committed run's changes are
// finished, any other run's are undone, last first. True when the file is
// done with (followed to the end and deleted, or not ours and kept aside as
// quorin.jnl.bad). What a committed run could not finish fails the run that
// wrote it (ownRun), not a later one that only tidies up after it.
bool FollowJournal(const char *path, bool ownRun);
