// The removal path check over any mod value: a value it lets through, put
// after the product directory, names something inside it. Checked against
// a plain model: no root, no drive or stream, no ".." component, no
// wildcard.
#include "fuzz_support.h"
#include "fs/product_path.h"

namespace {

bool ModelInside(const char *value)
{
    if (value[0] == '\\' || value[0] == '/') return false;
    if (strpbrk(value, ":*?") != nullptr) return false;
    size_t start = 0;
    for (size_t i = 0;; ++i) {
        char c = value[i];
        if (c == '\\' || c == '/' || c == '\0') {
            if (i - start == 2 && value[start] == '.' && value[start + 1] == '.') return false;
            if (c == '\0') return true;
            start = i + 1;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    // A mod value is read with a limit of 64.
    fuzz::Guarded<64> value;
    value.FillText(input);
    bool inside = IsProductRelativePath(value.bytes);
    value.CheckIntact();
    FUZZ_CHECK(inside == ModelInside(value.bytes));
    return 0;
}
