// plaincopy SOURCE_DIR TARGET_DIR: copies every file of one folder into
// another with CopyFileA and prints the milliseconds it took; the yardstick
// for how fast the setup puts its unpacked payload into place.
#include <windows.h>
#include <stdio.h>

#include <string>

int main(int argc, char **argv)
{
    if (argc != 3) return 2;
    std::string source = argv[1], target = argv[2];
    CreateDirectoryA(target.c_str(), nullptr);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((source + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 1;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        CopyFileA((source + "\\" + found.cFileName).c_str(), (target + "\\" + found.cFileName).c_str(), FALSE);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    QueryPerformanceCounter(&end);
    printf("%.1f\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}
