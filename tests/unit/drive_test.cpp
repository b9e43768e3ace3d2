#include "sys/drive.h"

#include <sys/mount.h>

#include <gtest/gtest.h>

#include <string>

#include "tree.h"

namespace {

using Drive = TreeTest;

TEST_F(Drive, SpaceNeededCountsWhatIsReplaced) {
    file("OLD300", 300);
    file("BIG", 5000);
    file(".hidden", 300);
    struct Case {
        const char *path;
        unsigned long long want;
    } cases[] = {
        {"C:\\old300", 700},
        {"C:\\BIG", 0},
        {"C:\\missing", 1000},
        {"C:\\.hidden", 700}, // a hidden file in the way counts too
    };
    for (const Case &c : cases) {
        unsigned long long needed = ~0ull;
        spaceneeded(1000, c.path, &needed);
        EXPECT_EQ(needed, c.want) << c.path;
    }
}

TEST_F(Drive, CheckFreeAsksTheRightDrive) {
    EXPECT_EQ(checkfree(0, "C:\\"), 0);
    EXPECT_EQ(checkfree(1000, "C:\\not\\yet\\made.txt"), 0); // nearest existing directory
    EXPECT_EQ(checkfree(1000, "made.txt"), 0);               // the current drive
    EXPECT_EQ(checkfree(1000, nullptr), 0);
    EXPECT_NE(drivefree(3), ~0ull);
    EXPECT_NE(drivefree(0), ~0ull);
    EXPECT_EQ(drivefree(17), ~0ull); // Q is not mapped

    Capture err(2);
    EXPECT_EQ(checkfree(0, "Q:\\X"), -2);
    EXPECT_EQ(err.text(), "Drive Not Ready!\n");
}

// One drive letter spans many mounts on Linux: a full stick mounted below
// C must fail the check even though C's own file system has room.
TEST_F(Drive, CheckFreeAsksTheMountThatReceivesTheWrite) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    mkdir("stick");
    if (::mount("tmpfs", at("stick").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    int small = checkfree(1 << 20, "C:\\stick\\big.bin");
    int large = checkfree(1 << 20, "C:\\big.bin");
    ::umount2(at("stick").c_str(), MNT_DETACH);
    EXPECT_EQ(small, -1);
    EXPECT_EQ(large, 0);
}

} // namespace
