#include "support/run_log.h"

#include <windows.h>

#include "support/text.h"

namespace {

// A line holds two paths, an old and a new value and some words; a command
// line or box text longer than this is cut, never overrun.
constexpr size_t kLineCapacity = 2048;

// Null while no log is open: zero-initialised, so it costs no file space.
HANDLE gLog = nullptr;

struct Output {
    char *buffer;
    size_t capacity;
    size_t length;
    bool cut;
};

void Put(Output &out, char c)
{
    if (out.length + 1 < out.capacity)
        out.buffer[out.length++] = c;
    else
        out.cut = true;
}

void PutText(Output &out, const char *text)
{
    if (text == nullptr) return;
    for (; *text != '\0' && !out.cut; ++text) {
        char c = *text;
        Put(out, (c > 0 && c < ' ') ? ' ' : c);
    }
}

void PutNumber(Output &out, unsigned long value, bool negative, unsigned width)
{
    char digits[kDecimalCapacity];
    size_t count = FormatDecimal(digits, value);
    if (negative) Put(out, '-');
    for (size_t pad = count; pad < width && pad < 16; ++pad) Put(out, '0');
    PutText(out, digits);
}

}  // namespace

size_t FormatLogText(char *buffer, size_t capacity, const char *format, va_list args)
{
    Output out{buffer, capacity, 0, false};
    for (const char *f = format; *f != '\0' && !out.cut; ++f) {
        if (*f != '%') {
            Put(out, *f);
            continue;
        }
        ++f;
        unsigned width = 0;
        while (*f >= '0' && *f <= '9') width = width * 10 + static_cast<unsigned>(*f++ - '0');
        bool isLong = *f == 'l';
        if (isLong) ++f;
        switch (*f) {
        case 's':
            PutText(out, va_arg(args, const char *));
            break;
        case 'c':
            Put(out, static_cast<char>(va_arg(args, int)));
            break;
        case 'd': {
            long value = isLong ? va_arg(args, long) : va_arg(args, int);
            // Negated as unsigned, so the smallest value has a magnitude too.
            unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value)
                                                : static_cast<unsigned long>(value);
            PutNumber(out, magnitude, value < 0, width);
            break;
        }
        case 'u':
            PutNumber(out, isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned), false, width);
            break;
        case '%':
            Put(out, '%');
            break;
        case '\0':
            --f;  // a lone '%' ends the format
            break;
        }
    }
    if (out.cut && capacity > 3) {
        out.length = capacity - 1;
        for (size_t i = out.length - 3; i < out.length; ++i) buffer[i] = '.';
    }
    buffer[out.length] = '\0';
    return out.length;
}

namespace {

size_t Format(char *buffer, size_t capacity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    size_t length = FormatLogText(buffer, capacity, format, args);
    va_end(args);
    return length;
}

}  // namespace

bool OpenRunLog(const char *path)
{
    CloseRunLog();
    // Append-only access: every write lands at the end of the file, also
    // when other runs append to it at the same time.
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    gLog = log != INVALID_HANDLE_VALUE ? log : nullptr;
    return gLog != nullptr;
}

void CloseRunLog()
{
    if (gLog != nullptr) CloseHandle(gLog);
    gLog = nullptr;
}

bool RunLogOpen() { return gLog != nullptr; }

namespace {

// One line: the local time, prefix, the event, and with withError the
// thread's last error as it was when the caller logged.
void WriteEvent(const char *prefix, const char *format, va_list args, bool withError)
{
    if (gLog == nullptr) return;
    DWORD lastError = GetLastError();

    char line[kLineCapacity];
    SYSTEMTIME now;
    GetLocalTime(&now);
    size_t length = Format(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s", now.wYear, now.wMonth,
                           now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, prefix);
    // Two bytes stay free for the line end.
    length += FormatLogText(line + length, sizeof line - length - 2, format, args);
    if (withError) length += Format(line + length, sizeof line - length - 2, ": error %lu", lastError);
    line[length++] = '\r';
    line[length++] = '\n';

    DWORD written = 0;
    WriteFile(gLog, line, static_cast<DWORD>(length), &written, nullptr);
    SetLastError(lastError);
}

}  // namespace

void LogEvent(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteEvent("", format, args, false);
    va_end(args);
}

void LogFailure(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteEvent("", format, args, true);
    va_end(args);
}

void LogContext(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteEvent("context: ", format, args, false);
    va_end(args);
}
