#include "payload/payload_archive.h"

#include "context/install_context.h"
#include "support/resources.h"
#include "support/text.h"

namespace {

// The archive's end record and central directory entries, as ZIP lays them
// out; the module builder writes no archive comment, so the end record is
// the archive's last 22 bytes.
constexpr DWORD kEndRecordSize = 22;
constexpr DWORD kEndSignature = 0x06054b50;
constexpr DWORD kEntrySize = 46;
constexpr DWORD kEntrySignature = 0x02014b50;

DWORD Read16(const BYTE *at) { return at[0] | (at[1] << 8); }
DWORD Read32(const BYTE *at) { return Read16(at) | (Read16(at + 2) << 16); }

bool SameName(const BYTE *stored, DWORD length, const char *name)
{
    if (TextLength(name) != length) return false;
    for (DWORD i = 0; i < length; ++i)
        if (LowerAscii(static_cast<char>(stored[i])) != LowerAscii(name[i])) return false;
    return true;
}

}  // namespace

bool PayloadListsEntry(const char *name)
{
    DWORD size = 0;
    const BYTE *zip = OwnResource(Handles().Instance, kPayloadResourceId, kPayloadResourceType, &size);
    if (zip == nullptr || size < kEndRecordSize) return false;
    const BYTE *end = zip + size - kEndRecordSize;
    if (Read32(end) != kEndSignature) return false;
    DWORD count = Read16(end + 10);
    DWORD at = Read32(end + 16);
    // Every offset and length is checked against the room left before use.
    for (DWORD i = 0; i < count && at <= size && size - at >= kEntrySize; ++i) {
        const BYTE *entry = zip + at;
        DWORD nameLength = Read16(entry + 28);
        DWORD rest = nameLength + Read16(entry + 30) + Read16(entry + 32);
        if (Read32(entry) != kEntrySignature || size - at - kEntrySize < nameLength) return false;
        if (SameName(entry + kEntrySize, nameLength, name)) return true;
        at += kEntrySize + rest;
    }
    return false;
}
