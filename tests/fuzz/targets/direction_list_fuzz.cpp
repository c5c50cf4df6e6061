// The direction list ("Directions") as any registry value may hold it,
// extended for a letter over any letter list and pruned again: the buffer
// stays terminated and bounded, no item is added that was there, every new
// item is whole, and pruning a fresh letter's items gives back a list of
// whole items as it was stored.
#include "fuzz_support.h"
#include "registration/language_list.h"

namespace {

size_t Occurrences(const char *list, const char item[3])
{
    size_t count = 0;
    for (size_t i = 0; list[i] != '\0' && list[i + 1] != '\0' && list[i + 2] != '\0'; ++i)
        if (memcmp(list + i, item, 3) == 0) ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    const char letter = static_cast<char>(input.Byte());
    const size_t directionLimit = input.Byte() | (input.Byte() << 8);
    fuzz::Guarded<kLetterListCapacity> letters;
    letters.FillText(input);
    fuzz::Guarded<kDirectionListCapacity> list;
    list.FillText(input, directionLimit);
    char original[kDirectionListCapacity];
    memcpy(original, list.bytes, sizeof original);
    const size_t length = strlen(original);

    int appended = ExtendDirections(list.bytes, kDirectionListCapacity, letters.bytes, letter);
    list.CheckIntact();
    letters.CheckIntact();
    FUZZ_CHECK(strncmp(list.bytes, original, length) == 0);
    FUZZ_CHECK(strlen(list.bytes) == length + 3 * static_cast<size_t>(appended));
    FUZZ_CHECK(strlen(list.bytes) < kDirectionListCapacity);
    if (letter == '\0') FUZZ_CHECK(appended == 0);
    // Every new item is letter, letter, colon, holds the letter once or as
    // both sides of nothing, and was not in the stored list already.
    for (size_t at = length; list.bytes[at] != '\0'; at += 3) {
        const char *item = list.bytes + at;
        FUZZ_CHECK(item[2] == ':');
        FUZZ_CHECK((item[0] == letter) != (item[1] == letter));
        FUZZ_CHECK(Occurrences(original, item) == 0);
        size_t same = 0;
        for (size_t other = length; list.bytes[other] != '\0'; other += 3)
            if (memcmp(list.bytes + other, item, 3) == 0) ++same;
        FUZZ_CHECK(same == 1);
    }

    char extended[kDirectionListCapacity];
    memcpy(extended, list.bytes, sizeof extended);
    int dropped = PruneDirections(list.bytes, letter);
    list.CheckIntact();
    FUZZ_CHECK(strlen(list.bytes) <= strlen(extended));
    if (letter != '\0') FUZZ_CHECK(strchr(list.bytes, letter) == nullptr);
    // A fresh letter over a list of whole items: the stored list comes back.
    if (letter != '\0' && memchr(original, letter, length) == nullptr && length % 3 == 0) {
        FUZZ_CHECK(dropped == appended);
        FUZZ_CHECK(strcmp(list.bytes, original) == 0);
    }
    return 0;
}
