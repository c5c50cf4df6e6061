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
