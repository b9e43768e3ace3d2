// Drives, full paths, free space and error texts: what every backend keeps.
#include "platform_test.h"

namespace {

class PlatformPaths : public PlatformTest {};

// Full-path expansion as Win32 does it, respelled in its one canonical
// form. The system's own expansion lets a letter no drive has pass and
// keeps a lower-case one; the final dot of "*." dropped would widen the
// pattern to every name; 0x5C as the trail byte of 表 (0x95 0x5C) taken for
// a separator would cut the name in two; and a path of 260 characters or
// more must fail, not be cut.
TEST_F(PlatformPaths, FullPathTable) {
    mkdir("sub");
    cd(at("sub"));
    const std::string a256(256, 'a');
    struct Case {
        std::string in, want;
    } cases[] = {
        {"c:\\a\\..\\..\\b", "C:\\b"},
        {"C:\\x. .", "C:\\x"},
        {"x", "C:\\sub\\x"},
        {".", "C:\\sub"},
        {"..\\..\\..", "C:\\"},
        {"\\x", "C:\\x"},
        {"d:x", "D:\\x"}, // other drives sit at their roots
        {"C:x", "C:\\sub\\x"},
        {"c:", "C:\\sub"},
        {"c:/a//b/./c", "C:\\a\\b\\c"},
        {"C:\\a\\", "C:\\a\\"},
        {"C:\\", "C:\\"},
        {"C:\\w\\*.", "C:\\w\\*."},
        {"C:\\w\\*.TXT", "C:\\w\\*.TXT"},
        {"C:\\SUB\\x", "C:\\SUB\\x"}, // the typed case stays
        {"q:\\x", "error 3"},
        {"\\\\server\\share", "error 3"},
        {"", "error 123"},
        {"C:\\\x95\x5C\\..\\y", "C:\\y"},
        {"C:\\\x95\x5C", "C:\\\x95\x5C"},
        {"C:\\" + a256, "C:\\" + a256}, // 259 characters
        {"C:\\" + a256 + "b", "error 206"},
        {"C:\\" + a256 + "\\b\\..", "C:\\" + a256},
    };
    for (const Case &k : cases)
        EXPECT_EQ(full(k.in), k.want) << k.in;
    char small[8];
    EXPECT_EQ(plat_fullpath("C:\\abcdefgh", small, sizeof small), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILENAME_TOO_LONG);
}

// The current drive and directory come from the working directory, every
// other drive sits at its root, and a letter no drive has has no root: a
// relative path would otherwise land on another drive than the user's.
TEST_F(PlatformPaths, DrivesAndTheirCurrentDirectories) {
    mkdir("w/v");
    cd(at("w/v"));
    char out[PLAT_PATH_SIZE];
    EXPECT_EQ(plat_curdrive(), 'C');
    ASSERT_EQ(plat_getcurdir('c', out, sizeof out), 0);
    EXPECT_STREQ(out, "w\\v");
    ASSERT_EQ(plat_getcurdir('D', out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(plat_getcurdir('Q', out, sizeof out), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    for (const char *root : {"C:\\", "d:", "D"})
        EXPECT_NE(plat_drivetype(root), PLAT_DRIVE_NO_ROOT_DIR) << root;
    EXPECT_EQ(plat_drivetype("Q:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_drivetype("C:\\w"), PLAT_DRIVE_NO_ROOT_DIR); // not a root
}

// Free space is that of the nearest existing directory: a destination not
// made yet is no error.
TEST_F(PlatformPaths, FreeSpace) {
    for (const char *path : {"C:\\missing\\deeper\\x", "missing\\deeper", (const char *)nullptr}) {
        unsigned long long bytes = 0;
        EXPECT_EQ(plat_freespace(path, &bytes), 0) << (path ? path : "null");
        EXPECT_GT(bytes, 0u) << (path ? path : "null");
    }
    unsigned long long bytes = 0;
    EXPECT_EQ(plat_freespace("Q:\\x", &bytes), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
}

// The text of an error ends without a line end (the system's has one) and
// is cut to fit, still terminated.
TEST_F(PlatformPaths, ErrorTextFitsTheBuffer) {
    char text[256];
    plat_errortext(PLAT_ERR_ACCESS_DENIED, text, sizeof text);
    size_t n = std::strlen(text);
    ASSERT_GT(n, 0u);
    EXPECT_NE(text[n - 1], '\n');
    EXPECT_NE(text[n - 1], '\r');
    plat_errortext(99999, text, 8);
    EXPECT_EQ(std::strlen(text), 7u);
}

} // namespace
