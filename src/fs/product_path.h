// The rule that keeps a path taken from a file anyone may write to the
// files a module installs: free of Win32, so that it builds and is fuzzed
// natively too.
#pragma once

// True when value, put after the folder it is relative to, names a
// dictionary file a module installs there, or its staging copy: NAME.qd or
// NAME.qd~ (any case) directly in that folder, or in diction\ when the
// folder is the product's own (inProduct). NAME holds no separator, drive,
// stream or wildcard, so nothing outside those folders, and no program or
// library of the product, is ever named.
bool IsModuleFileName(const char *value, bool inProduct);
