// Copies the unpacked dictionary files from the work directory into the
// product, under the system-wide busy cursor.
#pragma once

// Begins the run's journal, stages every dictionary file the run installs
// under its staging name and, once all are whole, moves each into place,
// the installed copy moved aside (see journal/journal.h). True when at
// least one file of the work directory was put in place or found not to
// need it; false when none was, the directory cannot be listed, or a
// dictionary file could not be staged or moved in: that marks the run
// failed (MarkRunFailed, no box), and settling the journal puts back what
// was moved. A target held open by another program keeps its old copy, and
// the new one waits under the staging name: a silent run has its
// replacement done when the run commits, at once or at the next restart
// (MarkRestartNeeded), an interactive one leaves it to RetryHeldFiles.
bool DeployModuleFiles();

// After the product has closed: moves every waiting staging copy into
// place, and leaves a target that is still held to the commit.
void RetryHeldFiles();
