// The system-wide busy cursor shown while module files are copied: the wait
// cursor stands in for the normal and text-select pointers of every
// application until the saved copies of both are handed back.
#pragma once

#include <windows.h>

struct BusyCursor {
    HCURSOR SavedArrow;  // copy of the normal pointer, handed back at the end
    HCURSOR SavedIBeam;  // copy of the text-select pointer
};

// Saves copies of both pointers and puts the wait cursor in their place.
// Where a cursor cannot be copied, the system cursors are left alone and
// cursor stays empty.
void ShowBusyCursor(BusyCursor *cursor);

// Hands the saved copies back to the system; a copy it does not take is
// destroyed. Does nothing for an empty cursor.
void HideBusyCursor(BusyCursor *cursor);
