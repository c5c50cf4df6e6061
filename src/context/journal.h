// The run's journal, quorin.jnl in the product directory: one line for each
// change the run is about to make, written before the change, so that a run
// that fails, or is killed, can be undone to where it started. A run that
// succeeds writes "commit", finishes what waited for it and deletes the file.
#pragma once

#include <windows.h>

// Starts the journal before the run's first change to the product. False
// when it cannot be written: the run must then change nothing.
bool BeginJournal();

// Each note goes into the journal before the change it describes, and is
// false when it could not be written: the change must then not be made (the
// run is marked failed). Without a journal (a run that has not begun one)
// nothing is noted and every note is true.

// target's staging copy (target + "~") is about to be written, to replace
// target later: noted as added when target is missing (undone by deleting
// it), else as moved aside (undone by moving it back; committed by deleting
// the aside copy, target + ".old"), a leftover aside copy deleted first.
// Either undo deletes the staging copy too.
bool NoteInstalled(const char *target);
// The move that NoteInstalled noted: path to its aside name.
bool MoveAside(const char *path);
// Notes and moves path aside at once (NoteInstalled, then MoveAside).
// False when either fails.
bool SetAside(const char *path);
// Copies path to its aside name and notes that, before the file is
// rewritten in place; a missing path is noted as added.
bool KeepCopy(const char *path);
// Held by another program: at commit, target's staging copy replaces it
// (replace) or target is deleted (delete), at once or at the next restart.
bool NoteAtCommit(bool replace, const char *target);
// The old data of value name of the Options key, about to be written, as
// RegQueryValueExA read it (read is its result): missing, or type and size
// bytes of data. Any other result cannot be noted.
bool NoteOptionsValue(const char *name, LONG read, DWORD type, const BYTE *data, DWORD size);
// The old Install flag of section in the module information file path.
bool NoteInstallFlag(const char *path, const char *section);
// An uninstall entry folder about to be made.
bool NoteEntryFolder(const char *folder);

// Ends the run's journal: a run that has not failed is committed, a failed
// one is undone. False when something could not be put back (the journal
// then stays, for the next run to finish the undo).
bool SettleJournal();

// Follows a journal an earlier run left (killed, or unable to finish its
// undo): committed runs are finished, others undone. A journal that is not
// one of ours, or names anything outside the product, is not followed but
// named in the log and kept aside as quorin.jnl.bad. False when the undo
// could not be completed: the run must then not go on.
bool RecoverJournal();
