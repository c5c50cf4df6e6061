// Reads the module's dialog texts from the program file's own resources.
#include "ui/dialog_texts.h"

#include <stddef.h>

#include "support/resources.h"

namespace {

constexpr UINT kCaptionString = 1;
constexpr UINT kInvitationString = 2;
constexpr UINT kSuccessString = 3;
constexpr WORD kMessageIdsResource = 106;

// The module builder refuses texts over 255 characters, so a longer one
// read back can only be a cut or foreign text: it reads as empty.
constexpr int kLongestText = 255;

void LoadText(HINSTANCE module, UINT id, char *buffer)
{
    int length = LoadStringA(module, id, buffer, static_cast<int>(kPathCapacity));
    if (length <= 0 || length > kLongestText) buffer[0] = '\0';
}

// The four ids are stored as 32-bit little-endian numbers, in the order of
// the fields, which is how the fields lie in memory on x86 and x86-64: they
// are copied as they stand. A resource of any other size is not ours.
void LoadMessageIds(HINSTANCE module, DialogTexts &texts)
{
    static_assert(offsetof(DialogTexts, SuccessMessage) - offsetof(DialogTexts, InvitationMessage) == 3 * sizeof(int),
                  "the four ids lie side by side");
    DWORD size = 0;
    const BYTE *bytes = OwnResource(module, kMessageIdsResource, MAKEINTRESOURCEA(10), &size);  // RT_RCDATA
    if (bytes != nullptr && size == 4 * sizeof(int)) CopyMemory(&texts.InvitationMessage, bytes, size);
}

}  // namespace

void LoadDialogTexts(HINSTANCE module, DialogTexts &texts)
{
    texts = DialogTexts{};
    LoadText(module, kCaptionString, texts.Caption);
    LoadText(module, kInvitationString, texts.Invitation);
    LoadText(module, kSuccessString, texts.Success);
    LoadMessageIds(module, texts);
}
