// The program's one straight-line driver: the run mode from the command
// line, the interactive start-up, the install or removal sequence, the
// closing dialog and the release of everything the run holds.
#pragma once

#include <windows.h>

// Runs the whole program; returns the exit code: 0 when the run did what was
// asked or the user cancelled, 1 when it failed, 3010 when it did its part
// but a file in use is replaced or deleted only at the next restart.
int RunSetup(HINSTANCE instance, const char *commandLine);

// The closing stages of an install: language, uninstall entry, install flag,
// and the host restart when the run is interactive.
void FinishInstall();

// The closing stages of a removal: language out, install flag, host restart
// when interactive.
void FinishRemoval();
