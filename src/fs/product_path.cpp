// The module file rule on its own, free of Win32, so that it builds and is
// fuzzed natively as well as for Windows.
#include "fs/product_path.h"

#include "support/text.h"

bool IsModuleFileName(const char *value, bool inProduct, bool staging)
{
    // The dictionary subfolder is the one component a name may pass.
    if (inProduct && StartsWithIgnoreAsciiCase(value, "diction") && (value[7] == '\\' || value[7] == '/'))
        value += 8;
    const char *end = value;
    for (; *end != '\0'; ++end)
        // A separator (a further folder, a root), a drive or a stream of
        // another file, a wildcard (a name the deletion could not give).
        for (const char *c = "\\/:*?"; *c != '\0'; ++c)
            if (*end == *c) return false;
    if (staging && end > value && end[-1] == '~') --end;
    return end - value >= 3 && end[-3] == '.' && LowerAscii(end[-2]) == 'q' && LowerAscii(end[-1]) == 'd';
}
