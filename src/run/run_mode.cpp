#include "run/run_mode.h"

#include <windows.h>

#include "support/text.h"

namespace {

bool TailEquals(const char *commandLine, const char *tail)
{
    size_t length = TextLength(commandLine);
    size_t tailLength = TextLength(tail);
    return length >= tailLength && lstrcmpiA(commandLine + length - tailLength, tail) == 0;
}

}  // namespace

bool IsSilentCommandLine(const char *commandLine)
{
    return TailEquals(commandLine, "un") || TailEquals(commandLine, "in");
}

bool IsRemovalCommandLine(const char *commandLine) { return TailEquals(commandLine, " un"); }

bool IsProductRelativePath(const char *value)
{
    if (value[0] == '\\' || value[0] == '/') return false;  // rooted or UNC
    for (const char *c = value; *c != '\0'; ++c)
        if (*c == ':') return false;  // a drive, or a stream of another file
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
