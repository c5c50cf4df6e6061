// The module file rule over any text: a value it lets through names one
// dictionary file directly in its folder (or the product's diction folder)
// and nothing else. Checked against a plain model built from std::string.
#include "fuzz_support.h"
#include "fs/product_path.h"

#include <string>
#include <strings.h>

namespace {

bool EndsWithQd(const std::string &name)
{
    if (name.size() < 3) return false;
    std::string tail = name.substr(name.size() - 3);
    return tail[0] == '.' && (tail[1] | 0x20) == 'q' && (tail[2] | 0x20) == 'd';
}

bool ModelTaken(const char *value, bool inProduct)
{
    std::string rest = value;
    if (inProduct && strncasecmp(rest.c_str(), "diction\\", 8) == 0) rest = rest.substr(8);
    if (rest.find_first_of("\\/:*?") != std::string::npos) return false;
    if (!rest.empty() && rest.back() == '~') rest.pop_back();
    return EndsWithQd(rest);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    // A mod value is read with a limit of 64; a journal's path is longer,
    // but the rule reads only up to its end.
    fuzz::Guarded<64> value;
    value.FillText(input);
    for (bool inProduct : {false, true}) {
        bool taken = IsModuleFileName(value.bytes, inProduct);
        value.CheckIntact();
        FUZZ_CHECK(taken == ModelTaken(value.bytes, inProduct));
    }
    return 0;
}
