#include "payload/crc32.h"

#include <string.h>

namespace {

// Slicing by eight: gTables[k][n] is the CRC of byte n followed by k zero
// bytes, so eight bytes cost eight lookups and no dependency between them.
// A byte at a time runs at a few hundred MB/s, too slow for a large module's
// payload; this runs at about 2 GB/s in 32-bit code. The tables are built on
// first use in zero-initialised storage, which takes no room in the file.
uint32_t gTables[8][256];

void BuildTables()
{
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
        gTables[0][n] = c;
    }
    for (int k = 1; k < 8; ++k)
        for (int n = 0; n < 256; ++n) gTables[k][n] = (gTables[k - 1][n] >> 8) ^ gTables[0][gTables[k - 1][n] & 0xFF];
}

}  // namespace

uint32_t Crc32(const void *data, size_t size)
{
    if (gTables[0][1] == 0) BuildTables();
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint32_t c = ~0u;
    for (; size >= 8; size -= 8, p += 8) {
        uint32_t a, b;
        memcpy(&a, p, 4);
        memcpy(&b, p + 4, 4);
        a ^= c;
        c = gTables[7][a & 0xFF] ^ gTables[6][(a >> 8) & 0xFF] ^ gTables[5][(a >> 16) & 0xFF] ^ gTables[4][a >> 24] ^
            gTables[3][b & 0xFF] ^ gTables[2][(b >> 8) & 0xFF] ^ gTables[1][(b >> 16) & 0xFF] ^ gTables[0][b >> 24];
    }
    while (size-- > 0) c = (c >> 8) ^ gTables[0][(c ^ *p++) & 0xFF];
    return ~c;
}
