// The text rules of the letter list, the direction list and the registry
// form of a language entry, from tables of cases. Every buffer is followed by
// a run of sentinel bytes that must survive the call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registration/language_list.h"

namespace {

constexpr char kSentinel = '\x5A';
constexpr size_t kGuard = 16;

// A buffer of the given capacity holding text, followed by sentinels.
struct Guarded {
    Guarded(const std::string &text, size_t capacity)
        : bytes(capacity + kGuard, kSentinel), capacity(capacity)
    {
        std::copy(text.begin(), text.end(), bytes.begin());
        bytes[text.size()] = '\0';
    }
    char *data() { return bytes.data(); }
    std::string Text() const { return std::string(bytes.data()); }
    bool GuardIntact() const
    {
        for (size_t i = capacity; i < bytes.size(); ++i)
            if (bytes[i] != kSentinel) return false;
        return true;
    }
    std::vector<char> bytes;
    size_t capacity;
};

struct LetterCase {
    const char *list;
    char letter;
    const char *after;
    bool changed;
};

TEST(LetterList, Append)
{
    const LetterCase cases[] = {
        {"", 'G', "G", true},
        {"ER", 'G', "ERG", true},
        {"ERG", 'G', "ERG", false},                         // present already
        {"ERg", 'G', "ERgG", true},                         // letters compare as bytes
        {"ER", '\0', "ER", false},                          // an empty letter counts as present
        {"ABCDEFGHIJKLMNO", 'Z', "ABCDEFGHIJKLMNO", false}, // 15 letters: full
        {"ABCDEFGHIJKLMN", 'Z', "ABCDEFGHIJKLMNZ", true},   // the 15th still fits
    };
    for (const LetterCase &c : cases) {
        Guarded list(c.list, kLetterListCapacity);
        EXPECT_EQ(AppendLetter(list.data(), kLetterListCapacity, c.letter), c.changed)
            << c.list << " + " << c.letter;
        EXPECT_EQ(list.Text(), c.after) << c.list << " + " << c.letter;
        EXPECT_TRUE(list.GuardIntact()) << c.list;
    }
}

TEST(LetterList, Remove)
{
    const LetterCase cases[] = {
        {"ERG", 'G', "ER", true},    {"GERG", 'G', "ERG", true}, // first occurrence only
        {"ERG", 'E', "ERG", false},                              // the three protected letters stay
        {"ERG", 'R', "ERG", false},  {"URG", 'U', "URG", false},
        {"ERGe", 'e', "ERG", true}, // protection is for upper case only
        {"ERG", 'F', "ERG", false},  {"ERgG", 'g', "ERG", true},
        {"ERG", '\0', "ERG", false}, {"", 'G', "", false},
    };
    for (const LetterCase &c : cases) {
        Guarded list(c.list, kLetterListCapacity);
        EXPECT_EQ(RemoveLetter(list.data(), c.letter), c.changed) << c.list << " - " << c.letter;
        EXPECT_EQ(list.Text(), c.after) << c.list << " - " << c.letter;
        EXPECT_TRUE(list.GuardIntact());
    }
}

struct ExtendCase {
    const char *directions;
    const char *letters;
    char letter;
    const char *after;
};

TEST(DirectionList, Extend)
{
    const ExtendCase cases[] = {
        {"ER:RE:", "ERG", 'G', "ER:RE:EG:GE:RG:GR:"},
        {"ER:RE:EG:GE:", "ERG", 'G', "ER:RE:EG:GE:RG:GR:"},
        {"ER:RE:EG:GE:RG:GR:", "ERG", 'G', "ER:RE:EG:GE:RG:GR:"},
        {"ER:RE:", "G", 'G', "ER:RE:"}, // the letter alone pairs with nothing
        {"ER:RE:", "ERgG", 'G', "ER:RE:EG:GE:RG:GR:gG:Gg:"},
        {"ER:RE:", "ERG", '\0', "ER:RE:"},
        // A substring anywhere counts, even off the three-character grid.
        {"AEG:", "EG", 'G', "AEG:GE:"},
    };
    for (const ExtendCase &c : cases) {
        Guarded list(c.directions, kDirectionListCapacity);
        ExtendDirections(list.data(), kDirectionListCapacity, c.letters, c.letter);
        EXPECT_EQ(list.Text(), c.after) << c.directions << " + " << c.letter;
        EXPECT_TRUE(list.GuardIntact());
    }
}

TEST(DirectionList, ExtendStopsShortOfTheCapacity)
{
    // 86 items take 258 characters: room for no more item below 260.
    std::string full;
    for (int i = 0; i < 86; ++i)
        full += "ab:";
    Guarded list(full, kDirectionListCapacity);
    EXPECT_EQ(ExtendDirections(list.data(), kDirectionListCapacity, "ERG", 'G'), 0);
    EXPECT_EQ(list.Text(), full);
    EXPECT_TRUE(list.GuardIntact());

    // 85 items (255 characters) take one more, ending at 258.
    std::string almost = full.substr(0, 255);
    Guarded second(almost, kDirectionListCapacity);
    EXPECT_EQ(ExtendDirections(second.data(), kDirectionListCapacity, "ERG", 'G'), 1);
    EXPECT_EQ(second.Text(), almost + "EG:");
    EXPECT_TRUE(second.GuardIntact());

    // 256 characters: one item would end at 259, the last that fits.
    std::string tight = almost + "x";
    Guarded third(tight, kDirectionListCapacity);
    EXPECT_EQ(ExtendDirections(third.data(), kDirectionListCapacity, "ERG", 'G'), 1);
    EXPECT_EQ(third.Text().size(), 259u);
    EXPECT_TRUE(third.GuardIntact());
}

struct PruneCase {
    const char *directions;
    char letter;
    const char *after;
};

TEST(DirectionList, Prune)
{
    const PruneCase cases[] = {
        {"ER:RE:EG:GE:RG:GR:", 'G', "ER:RE:"},
        {"EG:GE:", 'G', ""},
        {"ER:RE:EG:GE:", 'E', ""},
        {"ER:RE:Gg:gG:", 'g', "ER:RE:"}, // case matters
        {"ER:RE:GE", 'G', "ER:RE:"},     // a short last piece goes by the same rule
        {"ER:RE:XY", 'G', "ER:RE:XY"},
        {"ER:RE:G", 'G', "ER:RE:"},
        {"ER:RE:", 'G', "ER:RE:"},
        {"ER:RE:", '\0', "ER:RE:"},
        {"ERG:RE:", 'G', ":RE:"}, // pieces are cut every three characters
    };
    for (const PruneCase &c : cases) {
        Guarded list(c.directions, kDirectionListCapacity);
        PruneDirections(list.data(), c.letter);
        EXPECT_EQ(list.Text(), c.after) << c.directions << " - " << c.letter;
        EXPECT_TRUE(list.GuardIntact());
    }
}

struct EntryCase {
    std::string entry;
    std::string bytes;
};

TEST(RegistryEntry, SpacesBecomeZeroBytes)
{
    const EntryCase cases[] = {
        {"German", std::string("German\0\0", 8)},
        {"Alpha Beta", std::string("Alpha\0Beta\0\0", 12)},
        {"Alpha  Beta", std::string("Alpha\0\0Beta\0\0", 13)},
        {" x ", std::string("\0x\0\0\0", 5)},
        {"", std::string("\0\0", 2)},
    };
    for (const EntryCase &c : cases) {
        Guarded buffer(c.entry, kRegistryEntryCapacity);
        size_t bytes = ToRegistryEntry(buffer.data(), kRegistryEntryCapacity);
        EXPECT_EQ(std::string(buffer.data(), bytes), c.bytes) << c.entry;
        EXPECT_TRUE(buffer.GuardIntact());
    }
}

TEST(RegistryEntry, LongestEntryTakesAllButNoMore)
{
    std::string longest(259, 'a');
    longest[100] = ' ';
    Guarded buffer(longest, kRegistryEntryCapacity);
    ASSERT_EQ(ToRegistryEntry(buffer.data(), kRegistryEntryCapacity), 261u);
    EXPECT_EQ(buffer.bytes[100], '\0');
    EXPECT_EQ(buffer.bytes[259], '\0');
    EXPECT_EQ(buffer.bytes[260], '\0');
    EXPECT_TRUE(buffer.GuardIntact());

    // Without room for the second zero byte nothing is written.
    Guarded tight(longest, 260);
    EXPECT_EQ(ToRegistryEntry(tight.data(), 260), 0u);
    EXPECT_EQ(tight.bytes[100], ' ');
    EXPECT_TRUE(tight.GuardIntact());
}

} // namespace
