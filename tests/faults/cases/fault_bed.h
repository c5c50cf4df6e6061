// What the fault cases share: the product laid out on the small drive,
// ballast that leaves a chosen amount of room, files held open or made
// read-only, runs that record their boxes, and one comparable text of the
// whole end state (uninstall entry folders by count, not by GUID).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "testbed.h"

namespace faults {

extern const char kPayloadNames[5][8];  // the installed names of the five files

// "Q:\" when small_drives.sh mounted the small drives, else "".
std::string SmallDrive();
// Why the small drives are missing, for the skip message.
std::string WhySmallDrivesMissing();

// The product in use: on the small drive after UseSmallDrive, else the
// sandbox's own.
std::string ProductDir();
std::string DictionaryDir();
std::string ConfigPath();

// Provisions the sandbox, then lays the product out on the small drive
// (quorin.cfg, quorin.inf, unzip.dll, diction\) and points the Options key
// at it.
void UseSmallDrive();
void UseSandboxProduct();

// Writes ballast until the drive of path has about `room` bytes left.
void FillLeaving(const std::string &ballastPath, ULONGLONG room);
ULONGLONG FreeBytes(const std::string &directory);

// A run of setup.exe whose error boxes are recorded as handled (text kept)
// and closed.
struct Outcome {
    DWORD exitCode = 0xFFFFFFFF;
    bool timedOut = false;
    std::vector<std::string> boxes;
};
Outcome Run(const char *tail);

// A handle opened without sharing, as another program holding the file.
class Holder {
  public:
    explicit Holder(const std::string &path);
    ~Holder();
    bool Holds() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Release();

  private:
    HANDLE handle_;
};

// A virus scanner: from its start it opens path, with no sharing at all, as
// soon as the file is there and can be opened, and holds it for holdMs
// (INFINITE: until Release), then lets go. Its first hold is its only one.
class Scanner {
  public:
    Scanner(const std::string &path, DWORD holdMs);
    ~Scanner();
    bool Held() const { return held_ != 0; }  // whether it ever held the file
    void Release();

  private:
    static DWORD WINAPI Watch(void *self);
    std::string path_;
    DWORD holdMs_;
    HANDLE stop_;
    HANDLE thread_;
    volatile LONG held_ = 0;
};

// Everything a run changes, as sorted lines: the product's files with size
// and last-write time, both INI files' keys, the Options key, the uninstall
// entries of the module (count) and the temp copy of quorin.inf.
std::string State();

// Starts setup.exe with tail and kills it as soon as reached() holds. The
// run goes on in short slices; between them its thread is suspended while
// reached() looks at files and registry, so the run cannot move past the
// point meanwhile. True when it was killed there, false when it ended (or
// timed out) first.
bool KillWhen(const char *tail, bool (*reached)(), DWORD timeoutMs = 30000);

// Starts setup.exe with tail; the caller waits for it and closes the handles.
bool StartSetup(const char *tail, PROCESS_INFORMATION *process);

}  // namespace faults
