// The module's own dialog texts: the caption, the message library's ids for
// the four texts and the English texts used when the library has none. They
// are resources of the program file, written from the module's description,
// as is the failure text (LoadLocalText), which the library has no id for.
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
};

// Fills texts from the resources of module (string table entries 1 to 3,
// RCDATA 106). A missing, cut or malformed resource leaves its text empty
// or its id 0; nothing is read past a resource or a buffer.
void LoadDialogTexts(HINSTANCE module, DialogTexts &texts);
