// How the command line's tail chooses the run: only its last characters count.
#pragma once

// Last two characters "un" or "in" (any case): a silent run.
bool IsSilentCommandLine(const char *commandLine);

// Last three characters " un" (any case): a removal run.
bool IsRemovalCommandLine(const char *commandLine);
