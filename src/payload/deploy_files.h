// Copies the unpacked dictionary files from the work directory into the
// product, under the system-wide busy cursor.
#pragma once

// True when at least one file of the work directory was copied or found not
// to need a copy; false when none was, or the directory cannot be listed.
// A dictionary file that could not be put in place marks the run failed
// (MarkRunFailed) without a box, and never leaves a partial file behind.
bool DeployModuleFiles();
