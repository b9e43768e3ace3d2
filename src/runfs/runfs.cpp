#include "runfs/runfs.h"

const RunFs *runfs = &runfs_disk;

void runfs_choose(int echo) {
    runfs_forget();
    runfs = echo ? &runfs_echo : &runfs_disk;
}
