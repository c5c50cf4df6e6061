// The run's journal, quorin.jnl in the product directory: a line for each
// change the run is about to make, on disk before the change, so that a run
// that fails, is killed, or loses its power can be put back to where it
// started by itself or by the next run of any module.
//
// The rules. Every flush in the code names the rule that needs it, and
// the fault suite's crash and planted-journal cases name the rule they hold
// the code to.
//  1. Write-ahead. A change a line describes (a rename, a deletion, a
//     rewrite of quorin.cfg or of a quorin.inf copy, an Options value, a new
//     entry folder) is made only once FlushJournal has put that line on
//     disk.
//     Lines are grouped, so that a run flushes the journal a few times
//     whatever its number of files: once when every file is staged, once
//     before the registration, once when a new entry folder is made, once
//     when the run has written (the wrote and now lines), once for the
//     commit.
//  2. Data before names. A staged copy (X~) is flushed before it is
//     renamed into place, and the kept copy (.old) of quorin.cfg and of the
//     quorin.inf copies before the file is rewritten: a rename or a restore
//     never brings in a file whose data was still only in the cache, and a
//     file the platform rewrites whole, cut while it does, has a whole copy.
//  3. Commit. Everything the run wrote (quorin.cfg, the quorin.inf copies,
//     the new entry's files, the Options key) is flushed before the lines
//     that stamp it (wrote, now), and those before the "commit" line is
//     written and flushed. Only after that are the .old copies deleted and
//     the journal removed; a .old copy another program holds keeps the
//     journal, for the next run to finish.
//  4. A journal whose last whole line is "commit" is finished; any other is
//     undone, last line first. Both put in place only what is not in place
//     yet, so that doing either again, after another cut, ends the same.
//     An undo puts back only what the run changed: a kept copy whose file
//     is unchanged is deleted; a file changed since its wrote line gets
//     back only the section the run changed; an Options value changed
//     since its now line stays. An installed copy is put back even when
//     its staging copy cannot be deleted, which then keeps the journal.
//  5. An undo is flushed (the Options key; the files it puts back are
//     whole on disk already) before the journal is deleted.
//  6. Only whole lines count. A line without its end, and everything from
//     a zero byte on (a size that reached the disk before its data), was
//     never flushed, so the change it names was never made.
//  7. A line names only what a run of this program makes: a dictionary
//     file (.qd) or its staging copy directly in the product folder, its
//     diction folder or the dictionary folder, reached through no link
//     below that folder; quorin.cfg or one of the two quorin.inf copies; an
//     Options value TranLangs, Directions or LanguageN, text or bytes of at
//     most 2,048 bytes; an entry folder that holds no more than setup.ini
//     and one program and is filed under the product's name. A journal with
//     any other line is not followed: it is named in the log and kept aside
//     as quorin.jnl.bad.
//
// The states of a run, each move made by one function:
//   no journal  -BeginJournal->     begun: lines of staged files
//   begun       -FlushJournal->     staged: every X~ whole on disk (rule 2)
//   staged      -(renames)->        moved in
//   moved in    -FlushJournal->     registering: the registration's lines
//   registering -NoteWrites->       written: what the run wrote, stamped
//   written     -SettleJournal->    committed (rule 3) -FollowJournal-> finished
//   any state before committed -SettleJournal (failed) or RecoverJournal->
//               undoing -FollowJournal-> no journal (rule 5)
#pragma once

#include <windows.h>

// Starts the journal before the run's first change to the product. False
// when it cannot be written: the run must then change nothing.
bool BeginJournal();

// Each note writes its line, and is false when it could not: the change
// must then not be made (the run is marked failed). A note is on disk only
// after FlushJournal. Without a journal (a run that has not begun one)
// nothing is noted and every note is true.

// target's staging copy (target + "~") is about to be written, to replace
// target later, or target is about to be moved aside (a removal): noted as
// added when target is missing (undone by deleting it), else as moved aside
// (undone by moving it back; committed by deleting the aside copy, target +
// ".old"), a leftover aside copy deleted first. Either undo deletes the
// staging copy too. missing comes from a caller that has just looked.
bool NoteStaged(const char *target, bool missing);
// The move NoteStaged noted, once flushed: path to its aside name.
bool MoveAside(const char *path);
// NoteStaged, FlushJournal and MoveAside at once, for a single existing path.
bool SetAside(const char *path);
// Copies path to its aside name, flushes the copy and notes it, before the
// file is rewritten in place; a missing path is noted as added.
bool KeepCopy(const char *path);
// Held by another program: at commit, target's staging copy replaces it
// (replace) or target is deleted (delete), at once or at the next restart.
bool NoteAtCommit(bool replace, const char *target);
// The old data of value name of the Options key, read here, before the run
// writes or deletes it. A value over 2,048 bytes cannot be noted.
bool NoteOptionsValue(HKEY options, const char *name);
// KeepCopy of each quorin.inf copy the install flag is written to: the
// platform rewrites such a file whole, and a cut while it does would leave
// it empty.
bool KeepModuleInfoCopies();
// An uninstall entry folder about to be made.
bool NoteEntryFolder(const char *folder);

// Once the run has written quorin.cfg, the Options key and the flags:
// flushes the first two, notes what the run wrote (each file's stamp and
// the section it changed, each noted value's data) and flushes the journal,
// so that an undo after a cut can tell a later change from the run's own.
// Nothing after a failure; one that cannot be noted fails the run.
void NoteWrites();

// Calls step for every line of the journal whose verb is in verbs (a mask
// of 1 << verb), in the order noted, with its path or name and whether the
// verb is "added". With kStagedLines, every target the journal notes as
// staged (added, or to be moved aside): an install's second phase takes
// exactly the files its first one staged. False when step was false for
// one, or the journal cannot be read.
bool ForEachLine(unsigned verbs, bool (*step)(const char *path, bool added));
inline constexpr unsigned kStagedLines = 3;  // the added and aside lines

// Puts the lines noted so far on disk (rule 1); nothing to do when none is
// waiting. False when it cannot: the run is marked failed and nothing noted
// since the last flush may be changed.
bool FlushJournal();

// Ends the run's journal: a run that has not failed is committed, a failed
// one is undone. False when something could not be put back (the journal
// then stays, for the next run to finish the undo).
bool SettleJournal();

// Follows a journal an earlier run left (killed, cut off, or unable to
// finish its undo): committed runs are finished, others undone. A journal
// that is not one of ours, or names anything a run does not make, is not
// followed but named in the log and kept aside as quorin.jnl.bad. False
// when the undo could not be completed: the run must then not go on.
bool RecoverJournal();
