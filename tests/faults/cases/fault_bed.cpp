#include "fault_bed.h"

#include <algorithm>
#include <sstream>

#include "sandbox.h"

namespace faults {

const char kPayloadNames[5][8] = {"bg.qd", "gwg.qd", "mg.qd", "vg.qd", "tg.qd"};

namespace {

std::string gProductDir = sandbox::kProductDir;

std::string Environment(const char *name)
{
    char value[256];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void ListKeys(const std::string &path, const std::string &label, std::vector<std::string> &lines)
{
    std::vector<char> names(65536);
    DWORD length = GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), path.c_str());
    for (const char *section = names.data(); section < names.data() + length && *section;
         section += strlen(section) + 1) {
        std::vector<char> keys(65536);
        DWORD keysLength =
            GetPrivateProfileSectionA(section, keys.data(), static_cast<DWORD>(keys.size()), path.c_str());
        for (const char *key = keys.data(); key < keys.data() + keysLength && *key; key += strlen(key) + 1)
            lines.push_back("ini " + label + " [" + section + "] " + key);
    }
}

void ListFiles(const std::string &dir, const std::string &label, std::vector<std::string> &lines)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == ".." || name.rfind("ballast", 0) == 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListFiles(dir + name + "\\", label + name + "\\", lines);
            continue;
        }
        std::ostringstream line;
        line << "file " << label << name << " " << found.nFileSizeLow << " bytes";
        // A payload file's time decides the next install's copy; the other
        // files' times only say when the sandbox or a run wrote them.
        bool payload = false;
        for (const char *payloadName : kPayloadNames) payload = payload || name == payloadName;
        if (payload)
            line << ", time " << found.ftLastWriteTime.dwHighDateTime << ":" << found.ftLastWriteTime.dwLowDateTime;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) line << " read-only";
        lines.push_back(line.str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

}  // namespace

std::string SmallDrive() { return Environment("QUORIN_SMALL_DRIVE"); }

std::string WhySmallDrivesMissing()
{
    std::string why = Environment("QUORIN_SMALL_DRIVES_MISSING");
    return why.empty() ? "the suite was not started by small_drives.sh" : why;
}

std::string ProductDir() { return gProductDir; }
std::string DictionaryDir() { return gProductDir + "diction\\"; }
std::string ConfigPath() { return gProductDir + "quorin.cfg"; }

void UseSandboxProduct()
{
    gProductDir = sandbox::kProductDir;
    sandbox::Provision();
}

void UseSmallDrive()
{
    sandbox::Provision();
    std::string drive = SmallDrive();
    // Whatever an earlier case left on the drive goes first.
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((drive + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") sandbox::RemoveTree(drive + name);
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    gProductDir = drive + "Quorin\\";
    CreateDirectoryA(gProductDir.c_str(), nullptr);
    CreateDirectoryA(DictionaryDir().c_str(), nullptr);
    for (const char *name : {"quorin.cfg", "quorin.inf", "unzip.dll"})
        CopyFileA((std::string(sandbox::kProductDir) + name).c_str(), (gProductDir + name).c_str(), FALSE);
    sandbox::WriteRegistryString(sandbox::kOptionsKey, "DefaultPath", drive + "Quorin");
    sandbox::WriteRegistryString(sandbox::kOptionsKey, "DicPath", drive + "Quorin\\diction");
}

ULONGLONG FreeBytes(const std::string &directory)
{
    ULARGE_INTEGER available{}, total{}, free{};
    GetDiskFreeSpaceExA(directory.c_str(), &available, &total, &free);
    return available.QuadPart;
}

void FillLeaving(const std::string &ballastPath, ULONGLONG room)
{
    std::string directory = ballastPath.substr(0, ballastPath.find_last_of('\\') + 1);
    ULONGLONG free = FreeBytes(directory);
    if (free <= room) return;
    ULONGLONG toWrite = free - room;
    HANDLE file = CreateFileA(ballastPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // Written byte by byte in blocks, not set by length: a sparse file would
    // take no room at all.
    std::vector<char> block(65536, 'b');
    while (toWrite > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<ULONGLONG>(toWrite, block.size()));
        DWORD written = 0;
        if (!WriteFile(file, block.data(), chunk, &written, nullptr) || written == 0) break;
        toWrite -= written;
    }
    CloseHandle(file);
}

Outcome Run(const char *tail)
{
    Outcome outcome;
    testbed::RunResult result = testbed::RunSetup(tail, 60000, [&](HWND window, const testbed::WindowSeen &seen) {
        outcome.boxes.push_back(seen.text);
        testbed::CloseWindowPolitely(window);
        return true;
    });
    for (const testbed::WindowSeen &seen : result.unexpected) outcome.boxes.push_back(seen.text);
    outcome.exitCode = result.exitCode;
    outcome.timedOut = result.timedOut;
    return outcome;
}

Holder::Holder(const std::string &path)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr))
{
}

Holder::~Holder() { Release(); }

void Holder::Release()
{
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

Scanner::Scanner(const std::string &path, DWORD holdMs)
    : path_(path), holdMs_(holdMs), stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      thread_(CreateThread(nullptr, 0, Watch, this, 0, nullptr))
{
}

Scanner::~Scanner()
{
    Release();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
}

void Scanner::Release() { SetEvent(stop_); }

DWORD WINAPI Scanner::Watch(void *self)
{
    auto *scanner = static_cast<Scanner *>(self);
    // Looks every millisecond, as a scanner's file system filter sees a
    // file closed at once; gives up after a minute unheld.
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
        HANDLE file = CreateFileA(scanner->path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            scanner->held_ = 1;
            WaitForSingleObject(scanner->stop_, scanner->holdMs_);
            CloseHandle(file);
            return 0;
        }
        if (WaitForSingleObject(scanner->stop_, 1) == WAIT_OBJECT_0) return 0;
    }
    return 0;
}

std::string State()
{
    std::vector<std::string> lines;
    ListFiles(ProductDir(), "product\\", lines);
    ListKeys(ConfigPath(), "quorin.cfg", lines);
    ListKeys(ProductDir() + "quorin.inf", "quorin.inf", lines);
    // The sandbox's view: Options key, InstallShield folder, temp quorin.inf.
    std::istringstream sandboxLines(sandbox::Snapshot());
    for (std::string line; std::getline(sandboxLines, line);) {
        if (line.rfind("file installshield\\{", 0) == 0) {
            // Entry folders are new GUIDs each time: the folder's files are
            // compared, a second entry shows as a doubled line.
            size_t close = line.find('}');
            if (close != std::string::npos) line = "file installshield\\{guid" + line.substr(close);
            if (line.back() == '\\') continue;  // the folder itself: its files say enough
        }
        if (line.rfind("file product\\", 0) == 0 || line.rfind("ini quorin.", 0) == 0) continue;
        if (line.rfind("file work\\", 0) == 0) continue;  // the work folder may be a mount point
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string &line : lines) text += line + "\n";
    return text;
}

bool StartSetup(const char *tail, PROCESS_INFORMATION *process)
{
    return testbed::StartProgram(testbed::SetupPath(), tail, process);
}

bool KillWhen(const char *tail, bool (*reached)(), DWORD timeoutMs)
{
    PROCESS_INFORMATION process{};
    if (!StartSetup(tail, &process)) return false;
    bool killed = false;
    DWORD start = GetTickCount();
    SuspendThread(process.hThread);
    for (;;) {
        if (reached()) {
            TerminateProcess(process.hProcess, 0xDEAD);
            killed = true;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 || GetTickCount() - start > timeoutMs) break;
        ResumeThread(process.hThread);
        Sleep(0);
        SuspendThread(process.hThread);
    }
    if (!killed) TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return killed;
}
}  // namespace faults
