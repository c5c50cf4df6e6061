// The run's error boxes. Every box the run shows marks it failed, so that a
// silent caller learns from the exit code what a person would have read.
#pragma once

// The caption of ShowErrorBox: the run's Title, a buffer the caller keeps
// alive for the run (the context registers its own).
void SetErrorBoxCaption(const char *caption);

// MessageBoxA without owner, the registered caption, system-modal error.
void ShowErrorBox(const char *text);

// MessageBoxA without owner, own caption and style, for the one box that
// does not follow the run's convention.
void ShowErrorBoxStyled(const char *text, const char *caption, unsigned style);

// The same box as ShowErrorBox with the warning icon, for news that is no
// failure: it leaves the run's outcome as it is.
void ShowNoticeBox(const char *text);

// Unattended silent runs: boxes are not shown but written to the log, and
// still count as shown for the exit code.
void SuppressErrorBoxes(bool suppress);

bool ErrorBoxShown();
void ResetErrorBoxShown();

// A failure that shows no box (a dictionary file not put in place, the
// configuration file out of reach) still makes the run fail: the module is
// incomplete and a silent caller must not read success.
void MarkRunFailed();
// True when a box was shown or MarkRunFailed was called since the reset
// (which also clears RestartNeeded).
bool RunFailed();

// A replacement or deletion left for the next restart of Windows: the run
// did its part, but the module is complete only after the restart.
void MarkRestartNeeded();
bool RestartNeeded();
