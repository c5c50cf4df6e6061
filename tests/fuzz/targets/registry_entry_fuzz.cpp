// The registry form of a language entry from any configuration text: at
// most the buffer's capacity is read or written, the byte count covers the
// entry and its two closing zeros, and no space survives inside it.
#include "fuzz_support.h"
#include "registration/language_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input(data, size);
    fuzz::Guarded<kRegistryEntryCapacity> entry;
    // Unlike the other targets the entry may fill the whole buffer without
    // a terminator: the rule must not look past it.
    size_t taken = input.Take(entry.bytes, kRegistryEntryCapacity);
    char original[kRegistryEntryCapacity];
    memcpy(original, entry.bytes, taken);
    const char *end = static_cast<const char *>(memchr(original, '\0', taken));
    const size_t length = end != nullptr ? static_cast<size_t>(end - original) : taken;

    size_t bytes = ToRegistryEntry(entry.bytes, kRegistryEntryCapacity);
    for (size_t i = kRegistryEntryCapacity; i < sizeof entry.bytes; ++i)
        FUZZ_CHECK(static_cast<unsigned char>(entry.bytes[i]) == fuzz::kSentinel);
    if (end == nullptr || length + 2 > kRegistryEntryCapacity) {
        FUZZ_CHECK(bytes == 0);
        FUZZ_CHECK(memcmp(entry.bytes, original, taken) == 0);  // left alone
        return 0;
    }
    FUZZ_CHECK(bytes == length + 2);
    FUZZ_CHECK(entry.bytes[length] == '\0' && entry.bytes[length + 1] == '\0');
    for (size_t i = 0; i < length; ++i)
        FUZZ_CHECK(entry.bytes[i] == (original[i] == ' ' ? '\0' : original[i]));
    return 0;
}
