#include "run/run_options.h"

#include <windows.h>

#include "context/install_context.h"
#include "run/run_mode.h"
#include "support/resources.h"
#include "support/run_log.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The end of the program path: a quoted path runs to its closing quote,
// anything else to the first blank, as the system splits a command line.
size_t ProgramPathEnd(const char *commandLine)
{
    size_t at = 0;
    if (commandLine[0] == '"') {
        for (at = 1; commandLine[at] != '\0' && commandLine[at] != '"'; ++at) {
        }
        return commandLine[at] == '"' ? at + 1 : at;
    }
    while (commandLine[at] != '\0' && !IsBlank(commandLine[at])) ++at;
    return at;
}

// Where the options end: before the tail's word in a silent run (its last
// blank-separated word, "in", " un" or "/un"), at the end otherwise.
size_t OptionsEnd(const RunRequest &request, size_t optionsStart)
{
    size_t end = TextLength(request.CommandLine);
    if (request.Silent)
        while (end > optionsStart && !IsBlank(request.CommandLine[end - 1])) --end;
    return end;
}

void Ignore(RunRequest *request, const char *reason, size_t start, size_t end)
{
    if (request->IgnoredCount < kNamedIgnoredWords) request->Ignored[request->IgnoredCount] = {reason, start, end};
    ++request->IgnoredCount;
}

// One word, its quotes removed, into word (capacity bytes); the reason it
// is malformed, or nullptr. A quote anywhere in the word opens or closes a
// part in which blanks do not end it.
const char *ReadWord(const char *commandLine, size_t start, size_t end, size_t *wordEnd, char *word,
                     size_t capacity)
{
    bool quoted = false;
    bool fits = true;
    size_t length = 0;
    size_t at = start;
    for (; at < end && (quoted || !IsBlank(commandLine[at])); ++at) {
        if (commandLine[at] == '"') {
            quoted = !quoted;
        } else if (length + 1 < capacity) {
            word[length++] = commandLine[at];
        } else {
            fits = false;
        }
    }
    word[length] = '\0';
    *wordEnd = at;
    if (quoted) return "unterminated quote";
    if (!fits) return "too long";
    return nullptr;
}

// The reason a well-formed word is passed over, or nullptr when it counts.
const char *TakeWord(RunRequest *request, const char *word)
{
    constexpr size_t kLogPrefixLength = 5;  // "/log="
    if (StartsWithIgnoreAsciiCase(word, "/log=")) {
        const char *path = word + kLogPrefixLength;
        if (path[0] == '\0') return "empty path";
        if (request->LogPath[0] != '\0') return "a log is already named";
        if (!CopyPath(request->LogPath, path)) return "path too long";
        return nullptr;
    }
    if (EqualsIgnoreAsciiCase(word, "/noboxes")) {
        request->NoBoxes = true;
        return nullptr;
    }
    return "unknown word";
}

// "/log=" and a path, and room to tell a path that is too long.
constexpr size_t kWordCapacity = kPathCapacity + 8;

}  // namespace

void ReadRunRequest(const char *commandLine, RunRequest *request)
{
    *request = RunRequest{};
    request->CommandLine = commandLine;
    request->Silent = IsSilentCommandLine(commandLine);
    request->Removal = request->Silent && IsRemovalCommandLine(commandLine);

    size_t at = ProgramPathEnd(commandLine);
    size_t end = OptionsEnd(*request, at);
    char word[kWordCapacity];
    while (at < end) {
        if (IsBlank(commandLine[at])) {
            ++at;
            continue;
        }
        size_t wordEnd = at;
        const char *ignored = ReadWord(commandLine, at, end, &wordEnd, word, sizeof word);
        if (ignored == nullptr) ignored = TakeWord(request, word);
        if (ignored != nullptr) Ignore(request, ignored, at, wordEnd);
        at = wordEnd;
    }
}

namespace {

// The fixed part of a version resource follows its header and the UTF-16
// key "VS_VERSION_INFO" with its terminator, aligned to four bytes.
constexpr size_t kFixedVersionOffset = 40;
constexpr DWORD kFixedVersionSignature = 0xFEEF04BD;

// The program's own file version into version; all zero when its resource
// lacks one.
void ProgramVersion(VS_FIXEDFILEINFO *version)
{
    ZeroMemory(version, sizeof *version);
    DWORD size = 0;
    const BYTE *bytes = OwnResource(Handles().Instance, 1, MAKEINTRESOURCEA(16), &size);  // RT_VERSION
    if (bytes == nullptr || size < kFixedVersionOffset + sizeof *version) return;
    CopyMemory(version, bytes + kFixedVersionOffset, sizeof *version);
    if (version->dwSignature != kFixedVersionSignature) ZeroMemory(version, sizeof *version);
}

}  // namespace

void LogRunStart(const RunRequest &request)
{
    if (!RunLogOpen()) return;
    char own[kPathCapacity];
    DWORD length = GetModuleFileNameA(Handles().Instance, own, sizeof own);
    if (length == 0 || length >= sizeof own) length = 0;
    own[length] = '\0';
    VS_FIXEDFILEINFO version;
    ProgramVersion(&version);
    LogEvent("start: %s, version %u.%u.%u.%u", own, HIWORD(version.dwFileVersionMS),
             LOWORD(version.dwFileVersionMS), HIWORD(version.dwFileVersionLS), LOWORD(version.dwFileVersionLS));
    LogEvent("command line: %s", request.CommandLine);
    LogEvent("mode: %s", !request.Silent   ? "interactive install"
                         : request.Removal ? "silent removal"
                                           : "silent install");
    if (request.NoBoxes)
        LogEvent(request.Silent ? "boxes suppressed"
                                : "/noboxes ignored: interactive run");
    // Each ignored word again as the reader saw it, its quotes removed.
    char word[kWordCapacity];
    for (unsigned i = 0; i < request.IgnoredCount && i < kNamedIgnoredWords; ++i) {
        const IgnoredWord &ignored = request.Ignored[i];
        size_t wordEnd = 0;
        ReadWord(request.CommandLine, ignored.Start, ignored.End, &wordEnd, word, sizeof word);
        LogEvent("option ignored (%s): %s", ignored.Reason, word);
    }
}
