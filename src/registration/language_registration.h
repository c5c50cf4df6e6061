// Entering the module's language into the product's configuration file and
// Options key, and taking it out again.
#pragma once

#include <windows.h>

// Adds the module's letter and name to the configuration file's lists, then
// copies the lists into the Options key and extends "Directions" there.
// Reports nothing; without the Options key only the file changes.
void RegisterLanguage();

// Takes the module's letter (never 'E', 'R' or 'U') and name out of the
// configuration file's lists, republishes them into the Options key and
// prunes "Directions" of every item holding the letter. Reports nothing.
void UnregisterLanguage();

// Republishes the configuration file's language list into the open Options
// key: stale values from Language2 up deleted, then Language1.. written.
void PublishLanguageList(HKEY options);
