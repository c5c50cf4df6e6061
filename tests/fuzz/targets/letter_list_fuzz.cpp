// The letter list ("TranLangs") as any configuration file may hold it:
// appending and removing letters keeps the buffer terminated and bounded,
// never doubles a letter, never drops 'E', 'R' or 'U', and an append of a
// fresh letter undone by its removal gives back the stored list.
#include "fuzz_support.h"
#include "registration/language_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    const char letter = static_cast<char>(input.Byte());
    const bool removeFirst = (input.Byte() & 1) != 0;
    fuzz::Guarded<kLetterListCapacity> list;
    list.FillText(input);
    char original[kLetterListCapacity];
    memcpy(original, list.bytes, sizeof original);

    const size_t before = fuzz::CountOf(original, letter);
    const bool present = HasLetter(original, letter);
    FUZZ_CHECK(present == (letter == '\0' || before > 0));

    if (removeFirst) {
        bool changed = RemoveLetter(list.bytes, letter);
        list.CheckIntact();
        FUZZ_CHECK(changed == (letter != '\0' && !IsProtectedLetter(letter) && before > 0));
        if (changed) FUZZ_CHECK(fuzz::CountOf(list.bytes, letter) == before - 1);
        for (char kept : {'E', 'R', 'U'})
            FUZZ_CHECK(fuzz::CountOf(list.bytes, kept) == fuzz::CountOf(original, kept));
        return 0;
    }

    bool appended = AppendLetter(list.bytes, kLetterListCapacity, letter);
    list.CheckIntact();
    const size_t length = strlen(original);
    FUZZ_CHECK(appended == (!present && length + 1 < kLetterListCapacity));
    // Never doubled: a letter that was there is not added again.
    if (present) FUZZ_CHECK(strcmp(list.bytes, original) == 0);
    if (!appended) {
        FUZZ_CHECK(strcmp(list.bytes, original) == 0);
        return 0;
    }
    FUZZ_CHECK(fuzz::CountOf(list.bytes, letter) == 1);
    FUZZ_CHECK(strncmp(list.bytes, original, length) == 0);

    bool removed = RemoveLetter(list.bytes, letter);
    list.CheckIntact();
    if (IsProtectedLetter(letter)) {
        FUZZ_CHECK(!removed && fuzz::CountOf(list.bytes, letter) == 1);
    } else {
        FUZZ_CHECK(removed && strcmp(list.bytes, original) == 0);
    }
    return 0;
}
