// sandbox.exe provision | clean | snapshot: the demo's hands in the prefix.
#include <stdio.h>
#include <string.h>

#include "sandbox.h"

int main(int argc, char **argv)
{
    const char *command = argc > 1 ? argv[1] : "";
    if (strcmp(command, "provision") == 0) {
        sandbox::Provision();
    } else if (strcmp(command, "clean") == 0) {
        sandbox::Clean();
    } else if (strcmp(command, "snapshot") == 0) {
        fputs(sandbox::Snapshot().c_str(), stdout);
    } else {
        fputs("usage: sandbox provision | clean | snapshot\n", stderr);
        return 2;
    }
    return 0;
}
