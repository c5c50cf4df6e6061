// The work folder the payload is unpacked into: %WINDIR%\temp\quorin\.
#pragma once

#include "context/install_context.h"

// Sets context.WorkDir and makes that folder the run's own: whatever stood
// under its name is removed or moved aside, a new one is made that only
// administrators and the system may enter, and it is held open (so that
// nobody can rename or delete it) until ReleaseWorkDir. False when the name
// cannot be made free or is a link.
bool PrepareWorkDir(InstallContext &context);
