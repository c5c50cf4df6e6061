#include "support/error_box.h"

#include <windows.h>

#include "support/run_log.h"

namespace {
bool gErrorBoxShown = false;
bool gSuppressed = false;
bool gRunFailed = false;
bool gRestartNeeded = false;
const char *gCaption = nullptr;  // none registered yet: an empty caption

const char *Caption() { return gCaption != nullptr ? gCaption : ""; }
}  // namespace

void SetErrorBoxCaption(const char *caption) { gCaption = caption; }

void SuppressErrorBoxes(bool suppress) { gSuppressed = suppress; }

void ShowErrorBoxStyled(const char *text, const char *caption, unsigned style)
{
    gErrorBoxShown = true;
    // Every box has only OK: a suppressed box is answered the way a click
    // would have answered it, and the run goes on.
    LogEvent("box %s: caption \"%s\", text \"%s\"", gSuppressed ? "suppressed" : "shown", caption, text);
    if (gSuppressed) return;
    MessageBoxA(nullptr, text, caption, style);
    LogEvent("box closed");
}

void ShowErrorBox(const char *text)
{
    ShowErrorBoxStyled(text, Caption(), MB_SYSTEMMODAL | MB_ICONERROR);
}

void ShowNoticeBox(const char *text)
{
    bool shown = gErrorBoxShown;
    ShowErrorBoxStyled(text, Caption(), MB_SYSTEMMODAL | MB_ICONWARNING);
    gErrorBoxShown = shown;  // news, not a failure
}

bool ErrorBoxShown() { return gErrorBoxShown; }
void ResetErrorBoxShown()
{
    gErrorBoxShown = false;
    gRunFailed = false;
    gRestartNeeded = false;
}

void MarkRunFailed() { gRunFailed = true; }
bool RunFailed() { return gRunFailed || gErrorBoxShown; }

void MarkRestartNeeded() { gRestartNeeded = true; }
bool RestartNeeded() { return gRestartNeeded; }
