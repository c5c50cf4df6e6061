// Entering the module's language into the product's configuration file and
// Options key, and taking it out again.
#pragma once

#include <windows.h>

void RegisterLanguage();
void UnregisterLanguage();

// Republishes the configuration file's language list into the open Options
// key: stale values from Language2 up deleted, then Language1.. written.
void PublishLanguageList(HKEY options);
