#include "dialog_run.h"

#include <gtest/gtest.h>

#include "sandbox.h"

namespace dialogrun {

std::string ProductFile(const char *name) { return std::string(sandbox::kProductDir) + name; }

void ConfigureLibrary(const char *language, const char *unicode, const char *missing)
{
    std::string ini = ProductFile("q3msg.ini");
    sandbox::WriteIni(ini, "Messages", "Language", language);
    sandbox::WriteIni(ini, "Messages", "Unicode", unicode);
    sandbox::WriteIni(ini, "Messages", "Missing", missing);
}

namespace {

std::wstring TextOf(HWND window)
{
    wchar_t buffer[512] = L"";
    GetWindowTextW(window, buffer, 512);  // WM_GETTEXT, converted across processes
    return buffer;
}

// What of a showing's layout fails a person: a control reaching outside the
// dialog, two controls overlapping, a text that does not fit its control in
// the font the program gives the controls (the stock GUI font's size in
// Arial, at the screen's DPI: measured here the way the control draws it,
// the text wrapped at the control's width, a caption on one line inside the
// button's frame).
std::vector<std::string> LayoutFaults(HWND dialog)
{
    std::vector<std::string> faults;
    RECT client;
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT *>(&client), 2);
    LOGFONTW look{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof look, &look);
    look.lfCharSet = RUSSIAN_CHARSET;
    wcscpy(look.lfFaceName, L"Arial");
    HDC dc = GetDC(nullptr);
    // This program keeps the DPI it started with: the font is scaled to the
    // one the setup was started at.
    look.lfHeight = MulDiv(look.lfHeight, testbed::ScreenDpi(), GetDeviceCaps(dc, LOGPIXELSY));
    HFONT font = CreateFontIndirectW(&look);
    HGDIOBJ previous = SelectObject(dc, font);
    struct Control {
        int id;
        const char *name;
        bool wraps;
    } const controls[] = {{1000, "text", true}, {1, "Start", false}, {2, "Cancel", false}};
    std::vector<std::pair<std::string, RECT>> placed;
    for (const Control &c : controls) {
        HWND control = GetDlgItem(dialog, c.id);
        if (!IsWindowVisible(control)) continue;
        RECT r, overlap;
        GetWindowRect(control, &r);
        if (r.left < client.left || r.top < client.top || r.right > client.right || r.bottom > client.bottom)
            faults.push_back(std::string(c.name) + " reaches outside the dialog");
        for (const auto &other : placed)
            if (IntersectRect(&overlap, &r, &other.second)) faults.push_back(std::string(c.name) + " overlaps " + other.first);
        placed.push_back({c.name, r});
        // A button's frame and focus rectangle take 3 pixels on each side.
        int frame = c.wraps ? 0 : 3, width = r.right - r.left - 2 * frame, height = r.bottom - r.top - 2 * frame;
        std::wstring text = TextOf(control);
        RECT need = {0, 0, c.wraps ? width : 0, 0};
        DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | (c.wraps ? DT_WORDBREAK : DT_SINGLELINE));
        if (need.right > width || need.bottom > height)
            faults.push_back(std::string(c.name) + " cut: needs " + std::to_string(need.right) + "x" +
                             std::to_string(need.bottom) + ", has " + std::to_string(width) + "x" +
                             std::to_string(height));
    }
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return faults;
}


void Do(HWND dialog, Press press)
{
    switch (press) {
    case Press::Start:
        SendMessageA(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);
        break;
    case Press::Cancel:
        SendMessageA(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);
        break;
    case Press::Enter:
        PostMessageA(dialog, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageA(dialog, WM_KEYUP, VK_RETURN, 0);
        break;
    }
}

// Runs setup.exe (or program) interactively, pressing presses[i] at the
// i-th showing of the dialog.
}  // namespace

Showing Read(HWND dialog)
{
    Showing s;
    HWND text = GetDlgItem(dialog, 1000), start = GetDlgItem(dialog, 1), cancel = GetDlgItem(dialog, 2);
    s.text = TextOf(text);
    s.start = TextOf(start);
    s.cancel = TextOf(cancel);
    s.startVisible = IsWindowVisible(start) != FALSE;
    s.unicode[0] = IsWindowUnicode(text) != FALSE;
    s.unicode[1] = IsWindowUnicode(start) != FALSE;
    s.unicode[2] = IsWindowUnicode(cancel) != FALSE;
    s.defaultId = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    RECT client;
    GetClientRect(dialog, &client);
    s.client = {client.right, client.bottom};
    s.layoutFaults = LayoutFaults(dialog);
    return s;
}

DialogRun RunInteractive(std::vector<Press> presses, const std::string &program, const localerun::Locale *locale,
                         const std::string &tail, DWORD timeoutMs)
{
    DialogRun run;
    testbed::WindowHandler handler = [&](HWND window, const testbed::WindowSeen &seen) {
        if (seen.className != "#32770") return false;
        if (!seen.text.empty()) {
            run.boxes.push_back(seen);
            run.boxTexts.push_back(localerun::WideText(window));
            run.boxOwned.push_back(GetWindow(window, GW_OWNER) != nullptr);
            testbed::CloseWindowPolitely(window);
            return true;
        }
        if (seen.caption != kCaption) return false;
        run.showings.push_back(Read(window));
        size_t i = run.showings.size() - 1;
        for (const std::string &fault : run.showings[i].layoutFaults)
            ADD_FAILURE() << "showing " << i + 1 << " at " << testbed::ScreenDpi() << " DPI: " << fault;
        Do(window, i < presses.size() ? presses[i] : Press::Cancel);
        return true;
    };
    run.result = locale != nullptr ? localerun::RunInLocale(*locale, program, tail, timeoutMs, handler)
                                   : testbed::RunProgram(program, tail, timeoutMs, handler);
    return run;
}

}  // namespace dialogrun
