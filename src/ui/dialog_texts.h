// The module's own dialog texts: the caption, the message library's ids for
// the four texts, the English texts used when the library has none, and the
// failure text, which the library has no id for. They are resources of the
// program file, written from the module's description.
#pragma once

#include <windows.h>

#include "support/text.h"

struct DialogTexts {
    int InvitationMessage;
    int StartMessage;
    int CancelMessage;
    int SuccessMessage;
    char Caption[kPathCapacity];
    char Invitation[kPathCapacity];
    char Success[kPathCapacity];
    char Failure[kPathCapacity];  // the closing form after a failed run
};

// Fills texts from the resources of module (string table entries 1 to 4,
// RCDATA 106). A missing, cut or malformed resource leaves its text empty
// or its id 0; nothing is read past a resource or a buffer.
void LoadDialogTexts(HINSTANCE module, DialogTexts &texts);
