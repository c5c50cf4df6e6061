#include "support/error_box.h"

#include <windows.h>

#include "run/install_context.h"

namespace {
bool gErrorBoxShown = false;
}

void ShowErrorBoxStyled(const char *text, const char *caption, unsigned style)
{
    gErrorBoxShown = true;
    MessageBoxA(nullptr, text, caption, style);
}

void ShowErrorBox(const char *text)
{
    ShowErrorBoxStyled(text, Install().Title, MB_SYSTEMMODAL | MB_ICONERROR);
}

bool ErrorBoxShown() { return gErrorBoxShown; }
void ResetErrorBoxShown() { gErrorBoxShown = false; }
