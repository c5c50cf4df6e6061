// Writer of stored ZIP archives for the unpacker's tests.
#include "zip_builder.h"

namespace ziptest {

uint32_t Crc32(const std::string &data)
{
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : data) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void Put16(std::string &bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string &bytes, size_t at, uint32_t value)
{
    Put16(bytes, at, static_cast<uint16_t>(value & 0xFFFF));
    Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t Get16(const std::string &bytes, size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

uint32_t Get32(const std::string &bytes, size_t at)
{
    return Get16(bytes, at) | (static_cast<uint32_t>(Get16(bytes, at + 2)) << 16);
}

namespace {

void Append16(std::string &out, uint16_t value)
{
    out.append(2, '\0');
    Put16(out, out.size() - 2, value);
}

void Append32(std::string &out, uint32_t value)
{
    out.append(4, '\0');
    Put32(out, out.size() - 4, value);
}

}  // namespace

Layout Build(const std::vector<Piece> &pieces)
{
    Layout layout;
    std::string &out = layout.bytes;
    for (const Piece &piece : pieces) {
        if (piece.sharesDataOf >= 0) {
            layout.local.push_back(layout.local[piece.sharesDataOf]);
            continue;
        }
        layout.local.push_back(out.size());
        uint32_t crc = Crc32(piece.data);
        uint32_t size = static_cast<uint32_t>(piece.data.size());
        Append32(out, 0x04034B50);
        Append16(out, 10);
        Append16(out, static_cast<uint16_t>(piece.localFlags | (piece.descriptor ? 8 : 0)));
        Append16(out, 0);  // stored
        Append16(out, piece.dosTime);
        Append16(out, piece.dosDate);
        Append32(out, piece.descriptor ? 0 : crc);
        Append32(out, piece.descriptor ? 0 : size);
        Append32(out, piece.descriptor ? 0 : size);
        Append16(out, static_cast<uint16_t>(piece.name.size()));
        Append16(out, 0);
        out += piece.name;
        out += piece.data;
        if (piece.descriptor) {
            Append32(out, 0x08074B50);
            Append32(out, crc);
            Append32(out, size);
            Append32(out, size);
        }
    }
    size_t directory = out.size();
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece &piece = pieces[i];
        const Piece &owner = piece.sharesDataOf >= 0 ? pieces[piece.sharesDataOf] : piece;
        layout.central.push_back(out.size());
        Append32(out, 0x02014B50);
        Append16(out, 20);
        Append16(out, 10);
        Append16(out, static_cast<uint16_t>(piece.centralFlags | (owner.descriptor ? 8 : 0)));
        Append16(out, 0);
        Append16(out, owner.dosTime);
        Append16(out, owner.dosDate);
        Append32(out, Crc32(owner.data));
        Append32(out, static_cast<uint32_t>(owner.data.size()));
        Append32(out, static_cast<uint32_t>(owner.data.size()));
        Append16(out, static_cast<uint16_t>(owner.name.size()));
        Append16(out, 0);
        Append16(out, 0);
        Append16(out, 0);
        Append16(out, 0);
        Append32(out, 0);
        Append32(out, static_cast<uint32_t>(layout.local[i]));
        out += owner.name;
    }
    layout.end = out.size();
    Append32(out, 0x06054B50);
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, static_cast<uint16_t>(pieces.size()));
    Append16(out, static_cast<uint16_t>(pieces.size()));
    Append32(out, static_cast<uint32_t>(layout.end - directory));
    Append32(out, static_cast<uint32_t>(directory));
    Append16(out, 0);
    return layout;
}

}  // namespace ziptest
