// timeruns N "before" program [args]: runs a command line N times (after the
// untimed "before" command line, when not empty) and prints the median wall
// time in milliseconds. Timing inside Wine keeps the launcher's own cost out.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

static double RunOnce(std::string commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fputs("usage: timeruns N BEFORE PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    int runs = atoi(argv[1]);
    std::string before = argv[2];
    std::string command = std::string("\"") + argv[3] + "\"";
    for (int i = 4; i < argc; ++i) command += std::string(" ") + argv[i];
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (!before.empty()) RunOnce(before);
        times.push_back(RunOnce(command));
    }
    std::sort(times.begin(), times.end());
    printf("%.1f\n", times[times.size() / 2]);
    return 0;
}
