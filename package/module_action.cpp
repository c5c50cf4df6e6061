// The custom action of a module's Windows Installer package: runs the
// module's setup.exe, which the package has just put in its folder, the way
// a software-distribution tool would run it by hand (silently, without
// boxes, with a log), copies the setup's log lines into the installer's log
// and turns the setup's exit code into the result the installer acts on.
//
// A DLL rather than an executable custom action: an executable's exit code
// can only fail the action (and Wine's msiexec then ends with 1627), while a
// DLL can ask for a restart at the end (msiexec ends with 3010) and send
// its lines into the installer's log.
//
// Both entry points are deferred and not impersonated: they run inside the
// installer's transaction with its rights, and read the setup's path from
// CustomActionData, the only property a deferred action may read.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "support/handles.h"

namespace {

struct MsiHandleTraits {
    using Type = MSIHANDLE;
    static bool Valid(MSIHANDLE h) { return h != 0; }
    static void Close(MSIHANDLE h) { MsiCloseHandle(h); }
};
using OwnedMsiHandle = Owned<MsiHandleTraits>;
using OwnedHandle = Owned<KernelHandleTraits>;

// What the setup's exit codes mean (the setup's own README table).
constexpr DWORD kRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr DWORD kAnotherSetupRunning = 1618;

// Paths are held with room for the long forms Windows Installer may give.
constexpr DWORD kPathRoom = 1024;
// One line of the setup's log; a longer one is sent in pieces.
constexpr size_t kLineRoom = 1024;
// A line as sent: each character may grow fourfold when escaped.
constexpr size_t kTextRoom = 4 * kLineRoom + 64;

// A bounded wide text: appends cut at the end of the buffer, never past it.
class Text {
public:
    Text &operator<<(const wchar_t *part)
    {
        while (*part != L'\0' && length_ + 1 < kTextRoom) buffer_[length_++] = *part++;
        buffer_[length_] = L'\0';
        if (*part != L'\0') cut_ = true;
        return *this;
    }
    Text &operator<<(DWORD number)
    {
        wchar_t digits[11];
        int at = 10;
        digits[at] = L'\0';
        do {
            digits[--at] = static_cast<wchar_t>(L'0' + number % 10);
            number /= 10;
        } while (number != 0);
        return *this << digits + at;
    }
    const wchar_t *Get() const { return buffer_; }
    bool Cut() const { return cut_; }

private:
    wchar_t buffer_[kTextRoom] = {};
    size_t length_ = 0;
    bool cut_ = false;
};

// One line into the installer's log. The installer formats what it logs,
// field values included: "[Languages]" in a setup line would be taken for
// a property and vanish, so every bracket goes in escaped ("[\[]", "[\]]").
void LogLine(MSIHANDLE install, const wchar_t *line)
{
    Text escaped;
    escaped << L"Quorin setup: ";
    for (const wchar_t *at = line; *at != L'\0'; ++at) {
        wchar_t one[2] = {*at, L'\0'};
        escaped << (*at == L'[' ? L"[\\[]" : *at == L']' ? L"[\\]]" : one);
    }
    OwnedMsiHandle record(MsiCreateRecord(0));
    if (!record) return;
    MsiRecordSetStringW(record.Get(), 0, escaped.Get());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.Get());
}

// Sends the setup's log file line by line (the setup writes it in the ANSI
// code page), then deletes it.
void ForwardSetupLog(MSIHANDLE install, const wchar_t *path)
{
    OwnedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        LogLine(install, (Text() << L"its log was not opened: error " << GetLastError()).Get());
        return;
    }
    char line[kLineRoom];
    size_t length = 0;
    char chunk[4096];
    DWORD got = 0;
    auto send = [&] {
        if (length > 0 && line[length - 1] == '\r') --length;
        wchar_t wide[kLineRoom];
        int made = MultiByteToWideChar(CP_ACP, 0, line, static_cast<int>(length), wide, kLineRoom - 1);
        wide[made > 0 ? made : 0] = L'\0';
        LogLine(install, wide);
        length = 0;
    };
    while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            if (chunk[i] == '\n') {
                send();
            } else {
                line[length++] = chunk[i];
                if (length == sizeof line - 1) send();
            }
        }
    }
    if (length > 0) send();
    file.Reset();
    DeleteFileW(path);
}

// A fresh, empty file in the installer's temporary folder for the setup to
// log into; false when none can be made.
bool MakeLogFile(wchar_t (&path)[kPathRoom])
{
    wchar_t folder[kPathRoom];
    DWORD length = GetTempPathW(kPathRoom, folder);
    return length > 0 && length < kPathRoom - 14 && GetTempFileNameW(folder, L"qms", 0, path) != 0;
}

// Runs "SETUP" /noboxes /log="LOG" VERB and hands its exit code back
// through exitCode; false when it could not be started (logged).
bool RunSetup(MSIHANDLE install, const wchar_t *setup, const wchar_t *log, const wchar_t *verb, DWORD &exitCode)
{
    Text command;
    command << L"\"" << setup << L"\" /noboxes /log=\"" << log << L"\" " << verb;
    if (command.Cut()) {
        LogLine(install, L"setup.exe was not started: its command line is too long");
        return false;
    }
    LogLine(install, (Text() << L"running " << command.Get()).Get());
    // CreateProcessW may write into the command line.
    wchar_t line[kTextRoom];
    lstrcpynW(line, command.Get(), kTextRoom);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(setup, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        LogLine(install, (Text() << L"setup.exe was not started: error " << GetLastError()).Get());
        return false;
    }
    OwnedHandle child(process.hProcess);
    OwnedHandle thread(process.hThread);
    WaitForSingleObject(child.Get(), INFINITE);
    if (!GetExitCodeProcess(child.Get(), &exitCode)) exitCode = ERROR_INSTALL_FAILURE;
    return true;
}

// The whole action: the setup's path from CustomActionData, its run, its
// lines, and its exit code as the installer's result.
UINT RunModuleSetup(MSIHANDLE install, const wchar_t *verb)
{
    wchar_t setup[kPathRoom];
    DWORD length = kPathRoom;
    UINT read = MsiGetPropertyW(install, L"CustomActionData", setup, &length);
    if (read != ERROR_SUCCESS || setup[0] == L'\0') {
        LogLine(install, (Text() << L"no path of setup.exe in CustomActionData: error " << read).Get());
        return ERROR_INSTALL_FAILURE;
    }
    wchar_t log[kPathRoom];
    if (!MakeLogFile(log)) {
        LogLine(install, (Text() << L"no log file in the temporary folder: error " << GetLastError()).Get());
        return ERROR_INSTALL_FAILURE;
    }
    DWORD exitCode = 0;
    bool started = RunSetup(install, setup, log, verb, exitCode);
    ForwardSetupLog(install, log);
    if (!started) return ERROR_INSTALL_FAILURE;

    Text result;
    result << L"setup.exe " << verb << L" ended with exit code " << exitCode;
    if (exitCode == ERROR_SUCCESS) {
        LogLine(install, result.Get());
        return ERROR_SUCCESS;
    }
    if (exitCode == kRestartRequired) {
        // Deferred actions may ask for this mode: the installer then ends
        // with 3010 and leaves the restart to whoever started it.
        LogLine(install, (result << L": a file in use is replaced when Windows restarts").Get());
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
        return ERROR_SUCCESS;
    }
    if (exitCode == kAnotherSetupRunning)
        result << L": another Quorin setup was still running after a minute; nothing was changed, run the package again later";
    else
        result << L": the setup's lines above say why";
    LogLine(install, result.Get());
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

// Installs the module (install, repair, and the later version of an upgrade).
extern "C" UINT WINAPI InstallModule(MSIHANDLE install)
{
    return RunModuleSetup(install, L"in");
}

// Removes the module before the package takes its setup.exe away.
extern "C" UINT WINAPI RemoveModule(MSIHANDLE install)
{
    return RunModuleSetup(install, L"un");
}
