// Copies the unpacked dictionary files from the work directory into the
// product, under the system-wide busy cursor.
#pragma once

// True when at least one file of the work directory was copied or found not
// to need a copy; false when none was, or the directory cannot be listed.
// A dictionary file that could not be put in place marks the run failed
// (MarkRunFailed) without a box, and never leaves a partial file behind.
// A target held open by another program keeps its old copy, and the new one
// waits under the staging name: a silent run schedules its replacement for
// the next restart (MarkRestartNeeded), an interactive one leaves it to
// RetryHeldFiles.
bool DeployModuleFiles();

// After the product has closed: renames every waiting staging copy into
// place, and schedules the replacement of a target that is still held.
void RetryHeldFiles();
