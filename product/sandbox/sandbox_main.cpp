// The demo's hands in the prefix:
//   sandbox.exe provision | french | clean | snapshot
//     french: the product with the French module described beside the
//     German one, neither installed
//   sandbox.exe module SECTION TITLE LANGUAGE LETTER FILE...
//     the product with that module's section in quorin.inf, not installed
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "sandbox.h"

int main(int argc, char **argv)
{
    const char *command = argc > 1 ? argv[1] : "";
    if (strcmp(command, "provision") == 0) {
        sandbox::Provision();
    } else if (strcmp(command, "french") == 0) {
        sandbox::Provision();
        sandbox::ProvisionFrenchModule();
    } else if (strcmp(command, "clean") == 0) {
        sandbox::Clean();
    } else if (strcmp(command, "snapshot") == 0) {
        fputs(sandbox::Snapshot().c_str(), stdout);
    } else if (strcmp(command, "module") == 0 && argc > 6) {
        sandbox::ProvisionModule(argv[2], argv[3], argv[4], argv[5], std::vector<std::string>(argv + 6, argv + argc));
    } else {
        fputs("usage: sandbox provision | french | clean | snapshot | module SECTION TITLE LANGUAGE LETTER FILE...\n", stderr);
        return 2;
    }
    return 0;
}
