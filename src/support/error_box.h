// The run's error boxes. Every box the run shows marks it failed, so that a
// silent caller learns from the exit code what a person would have read.
#pragma once

// The caption of ShowErrorBox: the run's Title, a buffer the caller keeps
// alive for the run (the context registers its own).
void SetErrorBoxCaption(const char *caption);

// A message box without owner, the registered caption, system-modal error.
// text is English, and the log has it so; localText, when not 0, is the id
// of the text the box shows instead in the person's language (LoadLocalText).
void ShowErrorBox(const char *text, unsigned localText = 0);

// The same box with its own caption and style, for the boxes that do not
// follow the run's convention.
void ShowErrorBoxStyled(const char *text, const char *caption, unsigned style, unsigned localText = 0);

// The same box as ShowErrorBox with the warning icon, for news that is no
// failure: it leaves the run's outcome as it is.
void ShowNoticeBox(const char *text, unsigned localText);

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
