#include "support/error_box.h"

#include <windows.h>

#include "support/resources.h"
#include "support/run_log.h"
#include "support/text.h"

namespace {
bool gErrorBoxShown = false;
bool gSuppressed = false;
bool gRunFailed = false;
bool gRestartNeeded = false;
const char *gCaption = nullptr;  // none registered yet: an empty caption

const char *Caption() { return gCaption != nullptr ? gCaption : ""; }

// A caption or English text in the system code page, which holds it whole
// (ASCII, or read in that code page); a text that does not fit is left out.
void Widen(const char *text, wchar_t *wide)
{
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kPathCapacity) == 0) wide[0] = L'\0';
}
}  // namespace

void SetErrorBoxCaption(const char *caption) { gCaption = caption; }

void SuppressErrorBoxes(bool suppress) { gSuppressed = suppress; }

void ShowErrorBoxStyled(const char *text, const char *caption, unsigned style, unsigned localText)
{
    gErrorBoxShown = true;
    // Every box has only OK: a suppressed box is answered the way a click
    // would have answered it, and the run goes on.
    LogEvent("box %s: caption \"%s\", text \"%s\"", gSuppressed ? "suppressed" : "shown", caption, text);
    if (gSuppressed) return;
    // Through the Unicode call: a German or French letter the system code
    // page lacks (a Cyrillic Windows has no ä) is shown all the same. The
    // texts are the program file's, so the process's own module holds them.
    wchar_t wideText[kPathCapacity], wideCaption[kPathCapacity];
    if (!LoadLocalText(GetModuleHandleA(nullptr), localText, wideText)) Widen(text, wideText);
    Widen(caption, wideCaption);
    MessageBoxW(nullptr, wideText, wideCaption, style);
    LogEvent("box closed");
}

void ShowErrorBox(const char *text, unsigned localText)
{
    ShowErrorBoxStyled(text, Caption(), MB_SYSTEMMODAL | MB_ICONERROR, localText);
}

void ShowNoticeBox(const char *text, unsigned localText)
{
    bool shown = gErrorBoxShown;
    ShowErrorBoxStyled(text, Caption(), MB_SYSTEMMODAL | MB_ICONWARNING, localText);
    gErrorBoxShown = shown;  // news, not a failure
}

bool ErrorBoxShown() { return gErrorBoxShown; }
void ResetErrorBoxShown()
{
    gErrorBoxShown = false;
    gRunFailed = false;
    gRestartNeeded = false;
}

// Out of line: called from a dozen stages, a call is shorter than the store
// the optimiser would copy into each, and takes no relocation.
__attribute__((noinline)) void MarkRunFailed() { gRunFailed = true; }
bool RunFailed() { return gRunFailed || gErrorBoxShown; }

void MarkRestartNeeded() { gRestartNeeded = true; }
bool RestartNeeded() { return gRestartNeeded; }
