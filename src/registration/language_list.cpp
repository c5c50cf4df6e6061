#include "registration/language_list.h"

#include "support/text.h"

namespace {

// Plain byte search for a three-character direction item (or a short piece).
bool ContainsItem(const char *list, const char *item, size_t itemLength)
{
    for (size_t start = 0; list[start] != '\0'; ++start) {
        size_t i = 0;
        while (i < itemLength && list[start + i] != '\0' && list[start + i] == item[i])
            ++i;
        if (i == itemLength) return true;
    }
    return false;
}

// Appends one item when it is new and still fits with its terminator, so
// the list never reaches capacity characters.
bool AppendItem(char *list, size_t capacity, char first, char second)
{
    const char item[4] = {first, second, ':', '\0'};
    if (ContainsItem(list, item, 3)) return false;
    return AppendText(list, capacity, item);
}

} // namespace

bool IsProtectedLetter(char letter) { return letter == 'E' || letter == 'R' || letter == 'U'; }

bool HasLetter(const char *list, char letter)
{
    if (letter == '\0') return true;
    for (; *list != '\0'; ++list)
        if (*list == letter) return true;
    return false;
}

bool AppendLetter(char *list, size_t capacity, char letter)
{
    if (HasLetter(list, letter)) return false;
    const char item[2] = {letter, '\0'};
    return AppendText(list, capacity, item);
}

bool RemoveLetter(char *list, char letter)
{
    if (letter == '\0' || IsProtectedLetter(letter)) return false;
    for (char *at = list; *at != '\0'; ++at) {
        if (*at != letter) continue;
        for (; *at != '\0'; ++at)
            at[0] = at[1];
        return true;
    }
    return false;
}

int ExtendDirections(char *list, size_t capacity, const char *letters, char letter)
{
    if (letter == '\0') return 0;
    int appended = 0;
    for (; *letters != '\0'; ++letters) {
        char other = *letters;
        if (other == letter) continue;
        if (AppendItem(list, capacity, other, letter)) ++appended;
        if (AppendItem(list, capacity, letter, other)) ++appended;
    }
    return appended;
}

int PruneDirections(char *list, char letter)
{
    if (letter == '\0') return 0;
    size_t length = TextLength(list);
    size_t kept = 0;
    int dropped = 0;
    // The kept pieces are written over the list itself: the write position
    // never passes the read position.
    for (size_t offset = 0; offset < length; offset += 3) {
        size_t pieceLength = length - offset < 3 ? length - offset : 3;
        bool holdsLetter = false;
        for (size_t i = 0; i < pieceLength; ++i)
            if (list[offset + i] == letter) holdsLetter = true;
        if (holdsLetter) {
            ++dropped;
            continue;
        }
        for (size_t i = 0; i < pieceLength; ++i)
            list[kept + i] = list[offset + i];
        kept += pieceLength;
    }
    list[kept] = '\0';
    return dropped;
}

size_t ToRegistryEntry(char *buffer, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && buffer[length] != '\0')
        ++length;
    if (length + 2 > capacity) return 0;
    buffer[length + 1] = '\0';
    for (size_t i = 0; i < length; ++i)
        if (buffer[i] == ' ') buffer[i] = '\0';
    return length + 2;
}
