// The removal path check on its own, free of Win32, so that it builds and is
// fuzzed natively as well as for Windows.
#include "fs/product_path.h"

bool IsProductRelativePath(const char *value)
{
    if (value[0] == '\\' || value[0] == '/') return false;  // rooted or UNC
    for (const char *c = value; *c != '\0'; ++c) {
        if (*c == ':') return false;  // a drive, or a stream of another file
        // A wildcard matches files the delete cannot name: the removal
        // would fail for ever on a file that is there.
        if (*c == '*' || *c == '?') return false;
    }
    // A ".." component, between separators of either kind.
    const char *start = value;
    for (const char *c = value;; ++c) {
        if (*c == '\\' || *c == '/' || *c == '\0') {
            if (c - start == 2 && start[0] == '.' && start[1] == '.') return false;
            if (*c == '\0') return true;
            start = c + 1;
        }
    }
}
