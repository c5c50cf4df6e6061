// Copies the unpacked dictionary files from the work directory into the
// product, under the system-wide busy cursor.
#pragma once

// True when at least one file of the work directory was copied or found not
// to need a copy; false when none was, or the directory cannot be listed.
bool DeployModuleFiles();
