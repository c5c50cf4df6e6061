// The text rules applied to module information values and work directory
// names: bounded copies and appends, the "diction\" destination test, the
// ".zip" and ".qd" name tests, key names, cutting at the last backslash.
// Each stays inside its buffer and leaves it terminated.
#include "fuzz_support.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    const unsigned number = input.Byte() | (input.Byte() << 8) | (input.Byte() << 16) |
                            (static_cast<unsigned>(input.Byte()) << 24);
    const size_t capacity = 1 + input.Byte() % kPathCapacity;
    fuzz::Guarded<kPathCapacity> value;
    value.FillText(input);
    fuzz::Guarded<kPathCapacity> name;
    name.FillText(input);

    // The destination rule on "mod0".
    bool dictionary = StartsWithIgnoreAsciiCase(value.bytes, "diction\\");
    FUZZ_CHECK(dictionary == (strlen(value.bytes) >= 8 && strncasecmp(value.bytes, "diction\\", 8) == 0));

    // Name tests on a work directory entry, lower-cased as the copy does.
    LowerAsciiInPlace(name.bytes);
    name.CheckIntact();
    for (const char *c = name.bytes; *c != '\0'; ++c) FUZZ_CHECK(!(*c >= 'A' && *c <= 'Z'));
    const char *first = FromFirstDot(name.bytes);
    const char *last = FromLastDot(name.bytes);
    FUZZ_CHECK((first == nullptr) == (last == nullptr));
    if (first != nullptr) FUZZ_CHECK(*first == '.' && *last == '.' && first <= last && strchr(last + 1, '.') == nullptr);
    if (first != nullptr && EqualsIgnoreAsciiCase(first, ".zip")) FUZZ_CHECK(strlen(first) == 4);

    // A path built in a buffer of any capacity: copy then append.
    fuzz::Guarded<kPathCapacity> path;
    bool copied = CopyText(path.bytes, capacity, value.bytes);
    FUZZ_CHECK(copied == (strlen(value.bytes) < capacity));
    if (copied) {
        const size_t used = strlen(path.bytes);
        bool appended = AppendText(path.bytes, capacity, name.bytes);
        FUZZ_CHECK(appended == (used + strlen(name.bytes) < capacity));
        if (!appended) FUZZ_CHECK(strcmp(path.bytes, value.bytes) == 0);
        FUZZ_CHECK(strlen(path.bytes) < capacity);
        AppendBackslash(path.bytes, capacity);
        FUZZ_CHECK(strlen(path.bytes) < capacity);
        size_t kept = CutAfterLastBackslash(path.bytes);
        FUZZ_CHECK(kept == strlen(path.bytes));
        int at = LastBackslash(path.bytes);
        FUZZ_CHECK(at < 0 || static_cast<size_t>(at) + 1 == kept);
    }
    // Bytes past the capacity handed in are never touched.
    for (size_t i = capacity; i < sizeof path.bytes; ++i)
        FUZZ_CHECK(static_cast<unsigned char>(path.bytes[i]) == fuzz::kSentinel);
    if (copied) FUZZ_CHECK(memchr(path.bytes, '\0', capacity) != nullptr);

    fuzz::Guarded<24> key;
    if (FormatNumberedKey(key.bytes, 24, "Language", number)) {
        char expected[32];
        snprintf(expected, sizeof expected, "Language%u", number);
        FUZZ_CHECK(strcmp(key.bytes, expected) == 0);
    }
    key.CheckIntact();
    return 0;
}
