// The system-wide busy cursor. SetSystemCursor takes over the cursor it is
// given and destroys the one it replaces, so the pointers are saved as
// copies of their own, and every hand-over gets a fresh copy.
#include "payload/busy_cursor.h"

#include "support/handles.h"

namespace {

// System cursor ids (OCR_NORMAL, OCR_IBEAM), without the OEMRESOURCE
// define that would pull in every other OEM id.
constexpr DWORD kSystemNormal = 32512;
constexpr DWORD kSystemIBeam = 32513;

// A cursor of our own made from a shared system cursor; nullptr when the
// platform cannot copy it. The bitmaps GetIconInfo hands out are deleted as
// soon as the copy exists.
HCURSOR CopySystemCursor(const char *id)
{
    HCURSOR shared = LoadCursorA(nullptr, id);
    if (shared == nullptr) return nullptr;
    ICONINFO info;
    if (!GetIconInfo(shared, &info)) return nullptr;
    OwnedGdiObject color(info.hbmColor);
    OwnedGdiObject mask(info.hbmMask);
    return CreateIconIndirect(&info);
}

// Hands cursor to the system as the cursor id; a cursor it refuses stays ours
// and is destroyed.
void HandOver(HCURSOR cursor, DWORD id)
{
    if (!SetSystemCursor(cursor, id)) DestroyIcon(cursor);
}

}  // namespace

void ShowBusyCursor(BusyCursor *cursor)
{
    cursor->SavedArrow = nullptr;
    cursor->SavedIBeam = nullptr;

    OwnedIcon arrow(CopySystemCursor(MAKEINTRESOURCEA(32512)));         // IDC_ARROW
    OwnedIcon ibeam(CopySystemCursor(MAKEINTRESOURCEA(32513)));         // IDC_IBEAM
    OwnedIcon waitForArrow(CopySystemCursor(MAKEINTRESOURCEA(32514)));  // IDC_WAIT
    OwnedIcon waitForIBeam(CopySystemCursor(MAKEINTRESOURCEA(32514)));
    if (!arrow || !ibeam || !waitForArrow || !waitForIBeam) return;

    HandOver(waitForArrow.Release(), kSystemNormal);
    HandOver(waitForIBeam.Release(), kSystemIBeam);
    cursor->SavedArrow = arrow.Release();
    cursor->SavedIBeam = ibeam.Release();
}

void HideBusyCursor(BusyCursor *cursor)
{
    if (cursor->SavedArrow != nullptr) HandOver(cursor->SavedArrow, kSystemNormal);
    if (cursor->SavedIBeam != nullptr) HandOver(cursor->SavedIBeam, kSystemIBeam);
    cursor->SavedArrow = nullptr;
    cursor->SavedIBeam = nullptr;
}
