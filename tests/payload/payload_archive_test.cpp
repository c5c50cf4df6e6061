// The payload archive as the build embeds it in setup.exe: where the
// resource sits, and the shape of the archive the product's unpacker reads.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "sandbox.h"

namespace {

uint16_t Get16(const std::string &b, size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}
uint32_t Get32(const std::string &b, size_t at)
{
    return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}

TEST(PayloadArchive, IsANamedZipResourceInRussianWithTheFiveEntries)
{
    HMODULE setup =
        LoadLibraryExA((sandbox::BinDir() + "setup.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(setup, nullptr);
    HRSRC found =
        FindResourceExA(setup, "ZIP", MAKEINTRESOURCEA(102), MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    ASSERT_NE(found, nullptr) << "type \"ZIP\", id 102, language 1049";
    const char *data = static_cast<const char *>(LockResource(LoadResource(setup, found)));
    std::string archive(data, SizeofResource(setup, found));
    FreeLibrary(setup);

    // The end record: five entries, no comment.
    ASSERT_GT(archive.size(), 22u);
    size_t end = archive.size() - 22;
    ASSERT_EQ(Get32(archive, end), 0x06054B50u);
    EXPECT_EQ(Get16(archive, end + 20), 0) << "no archive comment";
    ASSERT_EQ(Get16(archive, end + 10), 5);

    const std::pair<std::string, uint32_t> entries[] = {
        {"bg.qd", 27133}, {"gwg.qd", 1364}, {"mg.qd", 59577}, {"vg.qd", 950208}, {"TG.QD", 7486}};
    size_t at = Get32(archive, end + 16);
    for (const auto &entry : entries) {
        ASSERT_EQ(Get32(archive, at), 0x02014B50u);
        EXPECT_EQ(Get16(archive, at + 8), 0x0002) << entry.first << ": central flags";
        EXPECT_EQ(Get16(archive, at + 10), 8) << entry.first << ": deflated";
        EXPECT_EQ(Get16(archive, at + 6), 20) << entry.first << ": version needed 2.0";
        EXPECT_EQ(Get32(archive, at + 24), entry.second) << entry.first;
        size_t nameLength = Get16(archive, at + 28);
        EXPECT_EQ(archive.substr(at + 46, nameLength), entry.first);
        EXPECT_EQ(Get16(archive, at + 30) + Get16(archive, at + 32), 0)
            << entry.first << ": no extra, no comment";

        size_t local = Get32(archive, at + 42);
        ASSERT_EQ(Get32(archive, local), 0x04034B50u);
        EXPECT_EQ(Get16(archive, local + 6), 0x8002) << entry.first << ": local flags";
        EXPECT_EQ(Get32(archive, local + 14), Get32(archive, at + 16))
            << entry.first << ": CRC in the local header";
        EXPECT_EQ(Get32(archive, local + 18), Get32(archive, at + 20)) << entry.first;
        EXPECT_EQ(Get32(archive, local + 22), entry.second) << entry.first;
        EXPECT_EQ(Get16(archive, local + 28), 0) << entry.first << ": no local extra";
        at += 46 + nameLength;
    }
}

}  // namespace
