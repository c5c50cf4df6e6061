// The module file rule on its own, free of Win32, so that it builds and is
// fuzzed natively as well as for Windows.
#include "fs/product_path.h"

#include "support/text.h"

bool IsModuleFileName(const char *value, bool inProduct)
{
    // The dictionary subfolder is the one component a name may pass.
    if (inProduct && StartsWithIgnoreAsciiCase(value, "diction\\")) value += 8;
    const char *end = value;
    for (; *end != '\0'; ++end)
        // A separator (a further folder, a root), a drive or a stream of
        // another file, a wildcard (a name the deletion could not give).
        if (*end == '\\' || *end == '/' || *end == ':' || *end == '*' || *end == '?') return false;
    if (end > value && end[-1] == '~') --end;
    return end - value >= 3 && StartsWithIgnoreAsciiCase(end - 3, ".qd");
}
