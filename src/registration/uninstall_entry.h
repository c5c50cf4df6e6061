// Files the module in the InstallShield information folder, once per
// application name, with a copy of this program as its uninstaller.
#pragma once

// Makes the entry unless a subfolder's setup.ini names ModuleAppName already.
// Boxes "CreateDirectory error." and "CopyFile error." report the two
// failures; every other shortfall ends the operation without an entry.
void RegisterUninstallEntry();
