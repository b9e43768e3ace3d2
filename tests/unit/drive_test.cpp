#include "sys/drive.h"

#include <fcntl.h>
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

// The free space is asked once and then counted down by the files that
// pass; a count left standing would let files through until the disk was
// full, and the copy that finds it so would fail half-way instead of being
// refused. Each file a check lets through is written here at once.
TEST_F(Drive, CountedFreeSpaceGoesDownWithEachFile) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    mkdir("stick");
    if (::mount("tmpfs", at("stick").c_str(), "tmpfs", 0, "size=256m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    forgetfree();
    const unsigned long long size = 40ull << 20;
    std::string results;
    for (int i = 0; i < 8; i++) {
        std::string name = "stick/f" + std::to_string(i);
        int r = checkfree(size, ("C:\\stick\\f" + std::to_string(i)).c_str());
        results += std::to_string(r) + " ";
        if (r == 0) {
            int fd = ::open(at(name).c_str(), O_WRONLY | O_CREAT, 0600);
            ASSERT_GE(fd, 0);
            EXPECT_EQ(::posix_fallocate(fd, 0, (off_t)size), 0);
            ::close(fd);
        }
    }
    ::umount2(at("stick").c_str(), MNT_DETACH);
    forgetfree();
    EXPECT_EQ(results, "0 0 0 0 0 0 -1 -1 ");
}

} // namespace
