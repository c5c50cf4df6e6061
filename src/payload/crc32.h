// The CRC-32 of ZIP archives (reflected polynomial 0xEDB88320), which the
// module builder records for the payload so that a damaged copy of the
// program is caught before it installs anything.
#pragma once

#include <stddef.h>
#include <stdint.h>

uint32_t Crc32(const void *data, size_t size);
