// crccost SETUP.EXE: what the payload check costs, the CRC-32 of the
// program's payload resource as the program computes it before it writes
// the archive. Prints, in milliseconds, the first pass (which also brings the
// resource's pages in, as in a run, where the copy after it then finds them
// there) and the median of five more, then the payload's size in bytes.
#include <windows.h>
#include <stdio.h>

#include <algorithm>

#include "payload/crc32.h"

int main(int argc, char **argv)
{
    if (argc != 2) return 2;
    HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module != nullptr ? FindResourceA(module, MAKEINTRESOURCEA(102), "ZIP") : nullptr;
    if (found == nullptr) return 1;
    const void *bytes = LockResource(LoadResource(module, found));
    DWORD size = SizeofResource(module, found);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    double ms[6];
    for (double &pass : ms) {
        QueryPerformanceCounter(&start);
        volatile uint32_t crc = Crc32(bytes, size);
        (void)crc;
        QueryPerformanceCounter(&end);
        pass = 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
    }
    std::sort(ms + 1, ms + 6);
    printf("%.2f %.2f %lu\n", ms[0], ms[3], size);
    FreeLibrary(module);
    return 0;
}
