// Stand-in for the product's unpacker library: unzip.dll with the one export
// UnZip, which unpacks a ZIP archive into the current directory.
//
// The archive is read whole into memory and checked from its central
// directory before a single file is written: every offset and length is
// bounds-checked, every entry's name must stay inside the current directory,
// and every entry is decompressed once and its size and CRC-32 compared. Only
// then are the entries written, decompressed a second time, each stamped with
// the modification time the archive stores for it.
#include <windows.h>
#include <zlib.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "entry_names.h"
#include "support/handles.h"

namespace {

// What UnZip returns. Only 0 is success; the others tell a person, or a
// test, why it failed.
enum UnZipResult : int {
    kUnZipOk = 0,
    kUnZipCannotRead = 1,   // no such file, unreadable, or too large to hold
    kUnZipCorrupt = 2,      // structure damaged or truncated
    kUnZipUnsupported = 3,  // encryption, a method other than stored/deflate, ZIP64, spanning
    kUnZipUnsafeName = 4,   // a name that would leave the current directory, or is not a file name
    kUnZipBadData = 5,      // an entry's data does not match its size or CRC-32
    kUnZipWriteFailed = 6,  // a file or directory could not be written
};

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxCommentSize = 0xFFFF;

constexpr unsigned kFlagEncrypted = 0x0001;
constexpr unsigned kFlagDataDescriptor = 0x0008;
constexpr unsigned kFlagStrongEncryption = 0x0040;
constexpr unsigned kFlagMaskedHeaders = 0x2000;
constexpr unsigned kMethodStored = 0;
constexpr unsigned kMethodDeflate = 8;

constexpr size_t kChunkSize = 64 * 1024;
constexpr DWORD kLargestArchive = 0x7FFFFFFF;  // offsets fit 32 bits; ZIP64 is refused anyway

struct HeapTraits {
    using Type = void *;
    static bool Valid(void *block) { return block != nullptr; }
    static void Close(void *block) { HeapFree(GetProcessHeap(), 0, block); }
};
using OwnedBlock = Owned<HeapTraits>;

uint16_t Read16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Archive {
    const uint8_t *bytes;
    size_t size;
};

struct Entry {
    const uint8_t *name;  // points into the central directory; not terminated
    size_t nameLength;
    unsigned method;
    uint16_t dosTime;
    uint16_t dosDate;
    uint32_t crc;
    uint32_t packedSize;
    uint32_t size;
    size_t localOffset;
    size_t dataOffset;  // first byte of the entry's data
    bool directory;     // the name ends with a separator
};

// --- Reading the archive ------------------------------------------------

int ReadArchive(const char *path, OwnedBlock *block, Archive *archive)
{
    OwnedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return kUnZipCannotRead;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLargestArchive) return kUnZipCannotRead;
    DWORD length = static_cast<DWORD>(size.QuadPart);
    block->Reset(HeapAlloc(GetProcessHeap(), 0, length + 1));
    if (!*block) return kUnZipCannotRead;
    DWORD read = 0;
    if (!ReadFile(file.Get(), block->Get(), length, &read, nullptr) || read != length)
        return kUnZipCannotRead;
    archive->bytes = static_cast<const uint8_t *>(block->Get());
    archive->size = length;
    return kUnZipOk;
}

// The end record: the last signature whose comment runs exactly to the end
// of the file. Gives the central directory's place and entry count.
int FindCentralDirectory(const Archive &archive, size_t *offset, size_t *end, size_t *count)
{
    if (archive.size < kEndRecordSize) return kUnZipCorrupt;
    size_t last = archive.size - kEndRecordSize;
    size_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
    for (size_t at = last + 1; at-- > first;) {
        const uint8_t *record = archive.bytes + at;
        if (Read32(record) != kEndSignature) continue;
        if (at + kEndRecordSize + Read16(record + 20) != archive.size) continue;

        if (at >= 20 && Read32(archive.bytes + at - 20) == kZip64LocatorSignature) return kUnZipUnsupported;
        if (Read16(record + 4) != 0 || Read16(record + 6) != 0 || Read16(record + 8) != Read16(record + 10))
            return kUnZipUnsupported;  // spanned over several disks
        size_t directorySize = Read32(record + 12);
        size_t directoryOffset = Read32(record + 16);
        if (directoryOffset > at || directorySize > at - directoryOffset) return kUnZipCorrupt;
        *offset = directoryOffset;
        *end = directoryOffset + directorySize;
        *count = Read16(record + 10);
        return kUnZipOk;
    }
    return kUnZipCorrupt;
}

// The entry's full path in the current directory, '/' turned into '\'.
// False when it does not fit MAX_PATH.
bool FormPath(const char *directory, const Entry &entry, char *path)
{
    size_t used = strlen(directory);
    size_t length = entry.nameLength;
    if (entry.directory) --length;  // no trailing separator
    if (used + length >= MAX_PATH) return false;
    memcpy(path, directory, used);
    for (size_t i = 0; i < length; ++i)
        path[used + i] = entry.name[i] == '/' ? '\\' : static_cast<char>(entry.name[i]);
    path[used + length] = '\0';
    return true;
}

// --- The central directory ------------------------------------------------

// Reads one central header at *at (advanced past it) and the local header it
// points to, and checks everything that can be checked without the data.
int ReadEntry(const Archive &archive, size_t *at, size_t directoryOffset, size_t directoryEnd, Entry *entry)
{
    const uint8_t *header = archive.bytes + *at;
    if (directoryEnd - *at < kCentralHeaderSize || Read32(header) != kCentralSignature) return kUnZipCorrupt;
    size_t nameLength = Read16(header + 28);
    size_t variable = nameLength + Read16(header + 30) + Read16(header + 32);
    if (directoryEnd - *at - kCentralHeaderSize < variable) return kUnZipCorrupt;
    *at += kCentralHeaderSize + variable;

    unsigned flags = Read16(header + 8);
    entry->method = Read16(header + 10);
    entry->dosTime = Read16(header + 12);
    entry->dosDate = Read16(header + 14);
    entry->crc = Read32(header + 16);
    entry->packedSize = Read32(header + 20);
    entry->size = Read32(header + 24);
    entry->name = header + kCentralHeaderSize;
    entry->nameLength = nameLength;
    entry->localOffset = Read32(header + 42);

    if (flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeaders)) return kUnZipUnsupported;
    if (entry->method != kMethodStored && entry->method != kMethodDeflate) return kUnZipUnsupported;
    if (entry->packedSize == 0xFFFFFFFF || entry->size == 0xFFFFFFFF || entry->localOffset == 0xFFFFFFFF)
        return kUnZipUnsupported;                            // sizes kept in a ZIP64 extra field
    if (Read16(header + 34) != 0) return kUnZipUnsupported;  // starts on another disk
    if (entry->method == kMethodStored && entry->packedSize != entry->size) return kUnZipCorrupt;

    if (nameLength == 0) return kUnZipCorrupt;
    if (!IsSafeEntryName(entry->name, nameLength, &entry->directory)) return kUnZipUnsafeName;
    if (entry->directory && entry->size != 0) return kUnZipCorrupt;

    // The local header and the data must lie before the central directory.
    if (entry->localOffset > directoryOffset || directoryOffset - entry->localOffset < kLocalHeaderSize)
        return kUnZipCorrupt;
    const uint8_t *local = archive.bytes + entry->localOffset;
    if (Read32(local) != kLocalSignature) return kUnZipCorrupt;
    unsigned localFlags = Read16(local + 6);
    size_t localVariable = static_cast<size_t>(Read16(local + 26)) + Read16(local + 28);
    if (directoryOffset - entry->localOffset - kLocalHeaderSize < localVariable) return kUnZipCorrupt;
    entry->dataOffset = entry->localOffset + kLocalHeaderSize + localVariable;
    if (directoryOffset - entry->dataOffset < entry->packedSize) return kUnZipCorrupt;

    // Bit 15 is reserved and some writers set it in the local header only;
    // what matters is that both headers tell the same story.
    if (localFlags & (kFlagEncrypted | kFlagStrongEncryption)) return kUnZipUnsupported;
    if (Read16(local + 8) != entry->method) return kUnZipCorrupt;
    if (Read16(local + 26) != nameLength || memcmp(local + kLocalHeaderSize, entry->name, nameLength) != 0)
        return kUnZipCorrupt;
    if (!(localFlags & kFlagDataDescriptor) &&
        (Read32(local + 14) != entry->crc || Read32(local + 18) != entry->packedSize ||
         Read32(local + 22) != entry->size))
        return kUnZipCorrupt;
    return kUnZipOk;
}

// Two entries whose bytes overlap are a forgery (one stream unpacked many
// times over), not an archive any writer makes.
bool Overlapping(Entry *entries, size_t count)
{
    std::sort(entries, entries + count,
              [](const Entry &a, const Entry &b) { return a.localOffset < b.localOffset; });
    for (size_t i = 1; i < count; ++i)
        if (entries[i].localOffset < entries[i - 1].dataOffset + entries[i - 1].packedSize) return true;
    return false;
}

// --- Data -------------------------------------------------------------------

// Unpacks one entry in chunks, handing each to sink (which may be null), and
// checks the size and CRC-32 against the central directory.
template <typename Sink>
int UnpackEntry(const Archive &archive, const Entry &entry, uint8_t *chunk, Sink sink)
{
    const uint8_t *packed = archive.bytes + entry.dataOffset;
    uLong crc = crc32(0, nullptr, 0);
    // Directories, and empty files some writers mark deflated, carry no data.
    if (entry.packedSize == 0 && entry.size == 0) return entry.crc == 0 ? kUnZipOk : kUnZipBadData;
    if (entry.method == kMethodStored) {
        for (size_t done = 0; done < entry.size;) {
            size_t part = std::min<size_t>(kChunkSize, entry.size - done);
            crc = crc32(crc, packed + done, static_cast<uInt>(part));
            if (!sink(packed + done, part)) return kUnZipWriteFailed;
            done += part;
        }
        return crc == entry.crc ? kUnZipOk : kUnZipBadData;
    }

    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return kUnZipCannotRead;
    stream.next_in = const_cast<Bytef *>(packed);
    stream.avail_in = entry.packedSize;
    int result = kUnZipOk;
    uLong total = 0;
    for (;;) {
        stream.next_out = chunk;
        stream.avail_out = kChunkSize;
        int status = inflate(&stream, Z_NO_FLUSH);
        size_t produced = kChunkSize - stream.avail_out;
        total += produced;
        // More output than the entry declares: stop at once, whatever the
        // stream would still produce.
        if (total > entry.size) {
            result = kUnZipBadData;
            break;
        }
        crc = crc32(crc, chunk, static_cast<uInt>(produced));
        if (produced != 0 && !sink(chunk, produced)) {
            result = kUnZipWriteFailed;
            break;
        }
        if (status == Z_STREAM_END) break;
        // Anything else but progress is a damaged or truncated stream.
        if (status != Z_OK || (produced == 0 && stream.avail_in == 0)) {
            result = kUnZipBadData;
            break;
        }
    }
    inflateEnd(&stream);
    if (result != kUnZipOk) return result;
    return (total == entry.size && crc == entry.crc) ? kUnZipOk : kUnZipBadData;
}

bool EnsureDirectory(const char *path)
{
    if (CreateDirectoryA(path, nullptr)) return true;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates every directory above the entry's file (the current directory
// itself exists), leaving path as it was.
bool EnsureParents(char *path, size_t directoryLength)
{
    for (size_t i = directoryLength; path[i] != '\0'; ++i) {
        if (path[i] != '\\') continue;
        path[i] = '\0';
        bool made = EnsureDirectory(path);
        path[i] = '\\';
        if (!made) return false;
    }
    return true;
}

// Gives the file the archive's time for it, a DOS date and time in local
// time, converted with the daylight rule in force on that date (as the
// writer's clock read it). A stored time that is no date leaves the time of
// writing.
void StampTime(HANDLE file, const Entry &entry)
{
    FILETIME local, universal;
    SYSTEMTIME localTime, universalTime;
    if (DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local) &&
        FileTimeToSystemTime(&local, &localTime) &&
        TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &universalTime) &&
        SystemTimeToFileTime(&universalTime, &universal))
        SetFileTime(file, nullptr, nullptr, &universal);
}

int WriteEntry(const Archive &archive, const Entry &entry, const char *directory, uint8_t *chunk)
{
    char path[MAX_PATH];
    if (!FormPath(directory, entry, path)) return kUnZipUnsafeName;
    if (!EnsureParents(path, strlen(directory))) return kUnZipWriteFailed;
    if (entry.directory) return EnsureDirectory(path) ? kUnZipOk : kUnZipWriteFailed;

    int result;
    {
        OwnedHandle file(
            CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return kUnZipWriteFailed;
        HANDLE handle = file.Get();
        result = UnpackEntry(archive, entry, chunk, [handle](const uint8_t *data, size_t size) {
            DWORD written = 0;
            return WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
        });
        if (result == kUnZipOk) StampTime(handle, entry);
    }
    // A file that did not come out whole is not left behind as if it had.
    if (result != kUnZipOk) DeleteFileA(path);
    return result;
}

// The current directory with a trailing backslash, in MAX_PATH characters.
bool CurrentDirectory(char *directory)
{
    DWORD length = GetCurrentDirectoryA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH - 1) return false;
    if (directory[length - 1] != '\\') {
        directory[length] = '\\';
        directory[length + 1] = '\0';
    }
    return true;
}

int Extract(const char *archivePath)
{
    if (archivePath == nullptr) return kUnZipCannotRead;
    char directory[MAX_PATH];
    if (!CurrentDirectory(directory)) return kUnZipWriteFailed;

    OwnedBlock block;
    Archive archive;
    int result = ReadArchive(archivePath, &block, &archive);
    if (result != kUnZipOk) return result;

    size_t offset, end, count;
    result = FindCentralDirectory(archive, &offset, &end, &count);
    if (result != kUnZipOk) return result;
    if (count == 0) return end == offset ? kUnZipOk : kUnZipCorrupt;

    OwnedBlock entryBlock(HeapAlloc(GetProcessHeap(), 0, count * sizeof(Entry)));
    OwnedBlock chunkBlock(HeapAlloc(GetProcessHeap(), 0, kChunkSize));
    if (!entryBlock || !chunkBlock) return kUnZipCannotRead;
    Entry *entries = static_cast<Entry *>(entryBlock.Get());
    uint8_t *chunk = static_cast<uint8_t *>(chunkBlock.Get());

    // Everything is checked before anything is written, the data included.
    size_t at = offset;
    for (size_t i = 0; i < count; ++i) {
        result = ReadEntry(archive, &at, offset, end, &entries[i]);
        if (result != kUnZipOk) return result;
        char path[MAX_PATH];
        if (!FormPath(directory, entries[i], path)) return kUnZipUnsafeName;
    }
    if (at != end) return kUnZipCorrupt;
    // From here on the entries go in the order of their data, which for
    // every writer we know is the order of the central directory too.
    if (Overlapping(entries, count)) return kUnZipCorrupt;
    for (size_t i = 0; i < count; ++i) {
        result = UnpackEntry(archive, entries[i], chunk, [](const uint8_t *, size_t) { return true; });
        if (result != kUnZipOk) return result;
    }

    for (size_t i = 0; i < count; ++i) {
        result = WriteEntry(archive, entries[i], directory, chunk);
        if (result != kUnZipOk) return result;
    }
    return kUnZipOk;
}

}  // namespace

// Unpacks the archive at archivePath (a full ANSI path) into the current
// directory, every entry under its stored name. 0 on success; any other
// value is a failure, and a failure found before writing leaves nothing.
extern "C" int WINAPI UnZip(const char *archivePath) { return Extract(archivePath); }
