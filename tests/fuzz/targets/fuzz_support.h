// What every fuzz target shares: a buffer of a stated capacity followed by
// sentinel bytes, filled from the fuzzer's bytes, and a hard stop that
// libFuzzer records as a crash with the input that caused it.
#pragma once

#include <initializer_list>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace fuzz {

constexpr size_t kSentinelBytes = 16;
constexpr unsigned char kSentinel = 0xA5;

#define FUZZ_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                 \
        }                                                                            \
    } while (0)

// Reads the fuzzer's bytes front to back; running out gives zeros.
class Input {
  public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    // Up to limit bytes, as a stored value holds them (NUL bytes included).
    size_t Take(char *out, size_t limit)
    {
        size_t count = 0;
        while (count < limit && position_ < size_) out[count++] = static_cast<char>(data_[position_++]);
        return count;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t position_ = 0;
};

// capacity usable bytes and sentinels after them. The text put in is
// terminated inside the capacity, as the program's readers leave it.
template <size_t capacity> struct Guarded {
    char bytes[capacity + kSentinelBytes];

    Guarded() { memset(bytes, kSentinel, sizeof bytes); }

    // A stored value: at most capacity - 1 bytes of input, cut at its first
    // NUL as a profile or registry reader would give it.
    void FillText(Input &input, size_t limit = capacity - 1)
    {
        size_t count = input.Take(bytes, limit < capacity - 1 ? limit : capacity - 1);
        bytes[count] = '\0';
    }

    void CheckIntact() const
    {
        for (size_t i = capacity; i < sizeof bytes; ++i)
            FUZZ_CHECK(static_cast<unsigned char>(bytes[i]) == kSentinel);
        FUZZ_CHECK(memchr(bytes, '\0', capacity) != nullptr);
    }
};

inline size_t CountOf(const char *text, char c)
{
    size_t count = 0;
    for (; *text != '\0'; ++text)
        if (*text == c) ++count;
    return count;
}

} // namespace fuzz
