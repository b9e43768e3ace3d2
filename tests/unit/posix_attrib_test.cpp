// Attributes and errors of the POSIX backend, on real temporary trees.
#include "posix_tree.h"

#include <cerrno>
#include <sys/xattr.h>

namespace {

class PosixAttrib : public PosixTree {
  protected:
    // The user.DOSATTRIB text, "none" when absent; false when the file
    // system keeps no extended attributes.
    bool xattr(const std::string &path, std::string *value) {
        char buf[64];
        ssize_t n = getxattr(path.c_str(), "user.DOSATTRIB", buf, sizeof buf);
        if (n < 0) {
            *value = "none";
            return errno != ENOTSUP;
        }
        value->assign(buf, (size_t)n);
        return true;
    }

    static unsigned attr(const std::string &path) {
        unsigned a = 0;
        return plat_getattr(path.c_str(), &a) == 0 ? a : 0xFFFFFFFFu;
    }
};

// The text must be what Wine and Samba write, or a Windows build under Wine
// would not see the same hidden and system files.
TEST_F(PosixAttrib, HiddenAndSystemLiveInTheExtendedAttribute) {
    file_at("c/f");
    std::string v;
    if (!xattr(c + "/f", &v))
        GTEST_SKIP() << "no extended attributes here";
    ASSERT_EQ(plat_setattr("C:\\F", PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM), 0);
    xattr(c + "/f", &v);
    EXPECT_EQ(v, "0x6");
    EXPECT_EQ(attr("C:\\f"), 0x26u);
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_HIDDEN), 0);
    xattr(c + "/f", &v);
    EXPECT_EQ(v, "0x2");
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_NORMAL), 0);
    xattr(c + "/f", &v);
    EXPECT_EQ(v, "none");
    EXPECT_EQ(attr("C:\\f"), 0x20u);
}

TEST_F(PosixAttrib, ReadsWhatWineAccepts) {
    file_at("c/.dot");
    file_at("c/f");
    std::string v;
    if (!xattr(c + "/f", &v))
        GTEST_SKIP() << "no extended attributes here";
    EXPECT_EQ(attr("C:\\.dot"), 0x22u); // a dot name is hidden without one
    struct Case {
        std::string value;
        unsigned want;
    } cases[] = {
        {std::string("0x4\0", 4), 0x24}, // Samba stores the terminator
        {"0x22", 0x22},                   // archive from Samba is not taken from it
        {"0X6", 0x26},
        {"0x", 0x20},
        {"0x4zz", 0x20},
        {"junk", 0x20},
    };
    for (const Case &k : cases) {
        ASSERT_EQ(setxattr((c + "/f").c_str(), "user.DOSATTRIB", k.value.data(), k.value.size(), 0), 0);
        EXPECT_EQ(attr("C:\\f"), k.want) << k.value;
    }
    // An attribute present but empty of bits overrides the dot rule.
    ASSERT_EQ(setxattr((c + "/.dot").c_str(), "user.DOSATTRIB", "0x0", 3, 0), 0);
    EXPECT_EQ(attr("C:\\.dot"), 0x20u);
}

TEST_F(PosixAttrib, ReadOnlyFollowsTheModeBits) {
    file_at("c/f");
    ASSERT_EQ(chmod((c + "/f").c_str(), 0644), 0);
    mode_t old = umask(022);
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_READONLY), 0);
    struct stat st;
    ASSERT_EQ(stat((c + "/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(attr("C:\\f"), 0x21u);
    // Hidden can be set on a read-only file and leaves it read-only.
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_READONLY | PLAT_ATTR_HIDDEN), 0);
    EXPECT_EQ(attr("C:\\f") & 0x01u, 0x01u);
    // Clearing gives owner write back, and group/other write where they
    // read, less the umask.
    ASSERT_EQ(plat_setattr("C:\\f", 0), 0);
    ASSERT_EQ(stat((c + "/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_EQ(chmod((c + "/f").c_str(), 0440), 0);
    umask(0);
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_NORMAL), 0);
    ASSERT_EQ(stat((c + "/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    umask(old);
}

TEST_F(PosixAttrib, DirectoriesAndErrors) {
    mkdir_at("c/dir");
    EXPECT_EQ(attr("C:\\DIR"), 0x10u);
    EXPECT_EQ(attr("C:\\"), 0x10u);
    ASSERT_EQ(chmod((c + "/dir").c_str(), 0555), 0);
    EXPECT_EQ(attr("C:\\dir"), 0x11u);
    EXPECT_EQ(attr("C:\\none"), 0xFFFFFFFFu);
    EXPECT_EQ(plat_lasterror(), 2u);
    EXPECT_EQ(attr("C:\\nodir\\none"), 0xFFFFFFFFu);
    EXPECT_EQ(plat_lasterror(), 3u);
    EXPECT_EQ(plat_setattr("C:\\none", 0), -1);
    EXPECT_EQ(plat_lasterror(), 2u);
}

// A test must be able to make one chosen call fail without anything done.
TEST_F(PosixAttrib, ArmedFailureFiresOnTheNthCall) {
    file_at("c/f");
    ASSERT_EQ(chmod((c + "/f").c_str(), 0644), 0);
    plat_failcall(PLAT_CALL_SETATTR, 2, PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(plat_setattr("C:\\f", 0), 0);
    EXPECT_EQ(plat_setattr("C:\\f", PLAT_ATTR_READONLY), -1);
    EXPECT_EQ(plat_lasterror(), 5u);
    EXPECT_EQ(attr("C:\\f") & 0x01u, 0u); // untouched
    EXPECT_EQ(plat_setattr("C:\\f", PLAT_ATTR_READONLY), 0); // disarmed
    EXPECT_EQ(attr("C:\\f") & 0x01u, 1u);
}

TEST_F(PosixAttrib, ErrnoTableAndTexts) {
    struct Case {
        int err;
        unsigned code;
    } cases[] = {
        {ENOENT, 2}, {ENOTDIR, 3}, {EACCES, 5}, {EPERM, 5}, {EROFS, 5}, {ENOMEM, 8},
        {EXDEV, 17}, {EBUSY, 32}, {EEXIST, 183}, {ENOSPC, 112}, {EDQUOT, 112},
        {ENOTEMPTY, 145}, {ENAMETOOLONG, 206}, {ELOOP, 1921}, {EISDIR, 267}, {EINVAL, 87},
        {EIO, 31},
    };
    for (const Case &k : cases) {
        set_errno_error(k.err);
        EXPECT_EQ(plat_lasterror(), k.code) << k.err;
    }
    char text[256];
    set_errno_error(EROFS);
    plat_errortext(plat_lasterror(), text, sizeof text);
    EXPECT_STREQ(text, strerror(EROFS)); // the system's own, more precise text
    plat_setlasterror(5);
    plat_errortext(5, text, sizeof text);
    EXPECT_STREQ(text, "Access is denied.");
    plat_errortext(99999, text, 8);
    EXPECT_EQ(std::strlen(text), 7u); // cut to fit, still terminated
}

} // namespace
