// A small writer of stored ZIP archives for the unpacker's tests, with the
// offsets of every header kept so that a test can damage exactly one field.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace ziptest {

struct Piece {
    std::string name;
    std::string data;
    uint16_t localFlags = 0;
    uint16_t centralFlags = 0;
    bool descriptor = false;  // sizes and CRC after the data, zero in the local header
    int sharesDataOf = -1;    // a central record pointing at an earlier piece's local header
    uint16_t dosTime = (12 << 11) | (30 << 5);                // 12:30:00
    uint16_t dosDate = ((2003 - 1980) << 9) | (7 << 5) | 14;  // 2003-07-14
};

struct Layout {
    std::string bytes;
    std::vector<size_t> local;    // offset of each piece's local header
    std::vector<size_t> central;  // offset of each central record
    size_t end = 0;               // offset of the end record
};

uint32_t Crc32(const std::string &data);
Layout Build(const std::vector<Piece> &pieces);

void Put16(std::string &bytes, size_t at, uint16_t value);
void Put32(std::string &bytes, size_t at, uint32_t value);
uint16_t Get16(const std::string &bytes, size_t at);
uint32_t Get32(const std::string &bytes, size_t at);

}  // namespace ziptest
