// What the journal's writer and its reader share. The file is plain text,
// one line for each change, every line ending CRLF: the header line, then
// "added PATH", "aside PATH", "replace PATH", "delete PATH", "entry FOLDER",
// "value NAME TYPE HEX" or "value NAME -" (an old value), and "commit" once
// the run has done everything. Once the run has written its INI files and
// Options values, "wrote STAMP SECTION PATH" (the file's stamp and the
// section the run changed, both in hex) and "now NAME TYPE HEX" or "now
// NAME -" say what it wrote, so that an undo can tell a later change.
#pragma once

#include <stddef.h>

inline constexpr char kJournalName[] = "quorin.jnl";
inline constexpr char kJournalHeader[] = "quorin journal 1";
// A line's first word; the reader knows a line by its word's place here.
enum JournalVerb { kAdded, kAside, kReplace, kDelete, kWrote, kEntry, kValue, kNow, kCommit, kVerbCount };
inline constexpr char kJournalVerbs[kVerbCount][8] = {"added", "aside", "replace", "delete", "wrote",
                                                     "entry", "value", "now",   "commit"};
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
