// Files the module in the InstallShield information folder, once per
// application name, with a copy of this program as its uninstaller.
#pragma once

void RegisterUninstallEntry();
