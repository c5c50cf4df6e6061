// The rule that keeps a path taken from a file anyone may write inside the
// product: free of Win32, so that it builds and is fuzzed natively too.
#pragma once

// A mod value that names one file inside the product directory when
// appended to it: not absolute, no drive, no ".." component with either
// separator, no wildcard.
bool IsProductRelativePath(const char *value);
