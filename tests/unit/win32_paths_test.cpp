// Paths and drives of the Windows backend under Wine: what
// GetFullPathNameW lets pass is checked here.
#include "win32_backend.h"

namespace {

class Win32Paths : public Win32Tree {};

// GetFullPathNameW succeeds on a letter no drive has and keeps a lower-case
// letter; the final dot of "*." would widen it to every name.
TEST_F(Win32Paths, FullPathTable) {
    mkdir("w");
    cd(at("w"));
    struct Case {
        std::string in, want;
    } cases[] = {
        {"c:\\w\\..\\x", "C:\\x"},
        {"c:/w//a. .", "C:\\w\\a"},
        {"c:\\w\\*.", "C:\\w\\*."},
        {"x.txt", "C:\\w\\x.txt"},
        {"\\y", "C:\\y"},
        {"d:z", "D:\\z"},
        {"C:", "C:\\w"},
        {"q:\\x", "error 3"},
        {"C:\\" + std::string(260, 'a'), "error 206"},
        {std::string("C:\\\x95\x5C"), std::string("C:\\\x95\x5C")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(full(c.in), c.want) << c.in;
}

TEST_F(Win32Paths, DrivesAndTheirCurrentDirectories) {
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
    EXPECT_EQ(plat_drivetype("Q:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_NE(plat_drivetype("c"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_drivetype("C:\\w"), PLAT_DRIVE_NO_ROOT_DIR); // not a root
    unsigned long long bytes = 0;
    EXPECT_EQ(plat_freespace("C:\\w\\v\\missing\\x", &bytes), 0);
    EXPECT_GT(bytes, 0u);
    EXPECT_EQ(plat_freespace("Q:\\x", &bytes), -1);
}

} // namespace
