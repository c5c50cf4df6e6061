#include "support/error_box.h"

#include <windows.h>

namespace {
bool gErrorBoxShown = false;
bool gRunFailed = false;
const char *gCaption = "";
}  // namespace

void SetErrorBoxCaption(const char *caption) { gCaption = caption; }

void ShowErrorBoxStyled(const char *text, const char *caption, unsigned style)
{
    gErrorBoxShown = true;
    MessageBoxA(nullptr, text, caption, style);
}

void ShowErrorBox(const char *text) { ShowErrorBoxStyled(text, gCaption, MB_SYSTEMMODAL | MB_ICONERROR); }

bool ErrorBoxShown() { return gErrorBoxShown; }
void ResetErrorBoxShown()
{
    gErrorBoxShown = false;
    gRunFailed = false;
}

void MarkRunFailed() { gRunFailed = true; }
bool RunFailed() { return gRunFailed || gErrorBoxShown; }
