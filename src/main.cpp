// The process entry: the platform layer turns the arguments into the
// core's code page, then the core runs.
#include "front/mox.h"
#include "platform/platform.h"

int main(int argc, char **argv) {
    char **cpargv = nullptr;
    if (plat_startup(argc, argv, &cpargv) != 0)
        return 1;
    int status = moxmain(argc, cpargv);
    plat_shutdown();
    return status;
}
