// The setup dialog as a person meets it, read from outside its process:
// what each showing of the dialog shows, whether its layout keeps every text
// whole, and the boxes before and after it. Shared by the suites that run
// setup.exe interactively.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "locale_run.h"
#include "testbed.h"

namespace dialogrun {

inline constexpr char kCaption[] = "German Dictionary Setup";

std::string ProductFile(const char *name);

// The stand-in message library's language ("German" or "Russian"), Unicode
// mode ("1" or "0") and the ids it has no text for.
void ConfigureLibrary(const char *language, const char *unicode, const char *missing = "");

// One showing of the dialog, read from the outside.
struct Showing {
    std::wstring text, start, cancel;
    bool startVisible = false;
    bool unicode[3] = {};  // text, Start, Cancel
    LRESULT defaultId = 0;
    SIZE client{};  // the dialog's client area in pixels
    std::vector<std::string> layoutFaults;
};

// Reads one showing of dialog, from this process or another.
Showing Read(HWND dialog);

enum class Press { Start, Cancel, Enter };

struct DialogRun {
    testbed::RunResult result;
    std::vector<Showing> showings;
    std::vector<testbed::WindowSeen> boxes;  // message boxes, closed as OK would
    std::vector<std::wstring> boxTexts;      // their texts, as Unicode
    std::vector<bool> boxOwned;
};

// Runs program (setup.exe unless told) with tail, pressing presses[i] at
// the i-th showing of the dialog, in this process's locale or the one
// given. A showing whose layout cuts a text or lets controls overlap fails
// the test.
DialogRun RunInteractive(std::vector<Press> presses, const std::string &program = testbed::SetupPath(),
                         const localerun::Locale *locale = nullptr, const std::string &tail = "",
                         DWORD timeoutMs = 60000);

}  // namespace dialogrun
