#include "support/registry_text.h"

bool ReadRegistryText(HKEY key, const char *name, char *buffer, size_t capacity)
{
    buffer[0] = '\0';
    DWORD size = static_cast<DWORD>(capacity);
    LONG status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size);
    if (status != ERROR_SUCCESS || size > capacity) {
        buffer[0] = '\0';
        return false;
    }
    if (size == capacity && buffer[capacity - 1] != '\0') {
        // Fills the buffer without a terminator: one byte too long to hold.
        buffer[0] = '\0';
        return false;
    }
    if (size < capacity) buffer[size] = '\0';
    return true;
}
