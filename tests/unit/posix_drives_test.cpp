#include "posix_tree.h"

namespace {

class PosixDrives : public PosixTree {};

// Malformed entries must be ignored one by one, not spoil the whole map, and
// a letter's case must not matter.
TEST_F(PosixDrives, ParsesTheDriveMap) {
    mkdir_at("e");
    map(" c=" + root + "/c;;d = " + root + "/d/;E:" + root + "/e;F=relative;7=/;G=" + root +
        "/missing");
    EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_FIXED);
    EXPECT_EQ(plat_drivetype("d:"), PLAT_DRIVE_FIXED);
    EXPECT_EQ(plat_drivetype("D"), PLAT_DRIVE_FIXED);
    EXPECT_EQ(plat_drivetype("E:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_drivetype("F:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_drivetype("G:\\"), PLAT_DRIVE_NO_ROOT_DIR); // mapped, but missing
    EXPECT_EQ(plat_drivetype("Z:\\"), PLAT_DRIVE_NO_ROOT_DIR); // no default once set
    EXPECT_EQ(plat_drivetype("C:\\x"), PLAT_DRIVE_NO_ROOT_DIR); // not a root
    EXPECT_EQ(full("d:\\x"), "D:\\x");
    EXPECT_EQ(full("Q:\\x"), "error 3");
}

// A map that is set but holds nothing usable must not fall back to the
// default one: a mistyped map would otherwise point C at the home directory.
TEST_F(PosixDrives, BadMapMapsNothing) {
    map("C:/srv");
    EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_drivetype("Z:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_curdrive(), 0);
}

TEST_F(PosixDrives, DefaultMapIsHomeAndRoot) {
    const char *h = std::getenv("HOME");
    std::string oldhome = h != nullptr ? h : "";
    setenv("HOME", at("c").c_str(), 1);
    map("");
    EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_FIXED);
    EXPECT_EQ(plat_drivetype("Z:\\"), PLAT_DRIVE_FIXED);
    // Z:\...\c\x lies in C's directory, and C's spelling is the canonical one.
    std::string viaz = "Z:" + root + "/c/x";
    EXPECT_EQ(full(viaz), "C:\\x");
    std::string z = "Z:" + root + "\\d\\y";
    for (char &ch : z)
        if (ch == '/')
            ch = '\\';
    EXPECT_EQ(full(root + "/d/y"), z);
    setenv("HOME", "/", 1);
    plat_reload();
    EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    setenv("HOME", "relative/home", 1);
    plat_reload();
    EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    if (h != nullptr)
        setenv("HOME", oldhome.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST_F(PosixDrives, CurrentDriveFollowsTheWorkingDirectory) {
    mkdir_at("c/sub");
    cd("c/sub");
    char dir[PLAT_PATH_SIZE];
    EXPECT_EQ(plat_curdrive(), 'C');
    ASSERT_EQ(plat_getcurdir('C', dir, sizeof dir), 0);
    EXPECT_STREQ(dir, "sub");
    ASSERT_EQ(plat_getcurdir('d', dir, sizeof dir), 0);
    EXPECT_STREQ(dir, "");
    EXPECT_EQ(plat_getcurdir('Q', dir, sizeof dir), -1);
    EXPECT_EQ(plat_lasterror(), 3u);

    cd(""); // the sandbox's top lies on no drive
    EXPECT_EQ(plat_curdrive(), 0);
    EXPECT_EQ(plat_lasterror(), 3u);
    EXPECT_EQ(full("x"), "error 3");
    EXPECT_EQ(full("\\x"), "error 3");
    EXPECT_EQ(full("C:x"), "C:\\x"); // other drives sit at their roots
}

// With one drive inside another, the longest prefix gives the one spelling:
// two spellings of one directory must compare equal.
TEST_F(PosixDrives, LongestPrefixWins) {
    mkdir_at("c/Inner");
    mkdir_at("c/Inner2");
    map("C=" + root + "/c;D=" + root + "/c/Inner");
    EXPECT_EQ(full("C:\\Inner\\x"), "D:\\x");
    EXPECT_EQ(full("c:\\inner\\X"), "D:\\X"); // found ignoring case, kept as typed
    EXPECT_EQ(full("C:\\Inner"), "D:\\");
    EXPECT_EQ(full("C:\\Inner2\\x"), "C:\\Inner2\\x"); // a whole component only
    EXPECT_EQ(full(root + "/c/Inner/y"), "D:\\y");
    EXPECT_EQ(full(root + "/elsewhere"), "error 3");
    cd("c/Inner");
    EXPECT_EQ(plat_curdrive(), 'D');
}

TEST_F(PosixDrives, FullPathTable) {
    mkdir_at("c/sub");
    mkdir_at("d/dd");
    cd("c/sub");
    struct Case {
        const char *in, *want;
    } cases[] = {
        {"c:\\a\\..\\..\\b", "C:\\b"},
        {"C:\\x. .", "C:\\x"},
        {"C:\\x.\\y", "C:\\x.\\y"}, // only the last component loses its dots
        {"x", "C:\\sub\\x"},
        {".", "C:\\sub"},
        {"..\\..\\..", "C:\\"},
        {"\\x", "C:\\x"},
        {"D:x", "D:\\x"},
        {"C:x", "C:\\sub\\x"},
        {"c:", "C:\\sub"},
        {"c:/a//b/./c", "C:\\a\\b\\c"},
        {"C:\\a\\", "C:\\a\\"},
        {"C:\\", "C:\\"},
        {"C:\\w\\*.", "C:\\w\\*."}, // a pattern keeps its meaning
        {"C:\\w\\*.TXT", "C:\\w\\*.TXT"},
        {"C:\\SUB\\x", "C:\\SUB\\x"}, // the typed case stays
        {"\\\\server\\share", "error 3"},
        {"", "error 123"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(full(c.in), c.want) << c.in;
}

TEST_F(PosixDrives, FullPathOf260CharactersFails) {
    std::string name(256, 'a'); // "C:\" + 256 = 259 characters
    EXPECT_EQ(full("C:\\" + name), "C:\\" + name);
    EXPECT_EQ(full("C:\\" + name + "b"), "error 206");
    EXPECT_EQ(full("C:\\" + name + "\\b\\.."), "C:\\" + name);
    char small[8];
    EXPECT_EQ(plat_fullpath("C:\\abcdefgh", small, sizeof small), -1);
    EXPECT_EQ(plat_lasterror(), 206u);
}

// 0x95 0x5C is one character whose second byte is the separator's value: a
// plain byte scan would cut the name in two.
TEST_F(PosixDrives, DoubleByteNamesKeepTheirTrailByte) {
    mkdir_at("c/\xe8\xa1\xa8"); // 表 in UTF-8
    EXPECT_EQ(full("C:\\\x95\x5C\\..\\y"), "C:\\y");
    EXPECT_EQ(full("C:\\\x95\x5C"), "C:\\\x95\x5C");
    EXPECT_EQ(native("C:\\\x95\x5C\\a.txt"), at("c/\xe8\xa1\xa8/a.txt"));
    char dos[PLAT_PATH_SIZE];
    ASSERT_GT(dos_path(at("c/\xe8\xa1\xa8/x").c_str(), dos, sizeof dos), 0);
    EXPECT_STREQ(dos, "C:\\\x95\x5C\\x");
}

TEST_F(PosixDrives, NativePathSpellsExistingComponentsAsOnDisk) {
    mkdir_at("c/Data");
    file_at("c/Data/Report.TXT");
    EXPECT_EQ(native("c:\\data\\report.txt"), at("c/Data/Report.TXT"));
    EXPECT_EQ(native("c:\\DATA\\new\\Report.txt"), at("c/Data/new/Report.txt"));
    EXPECT_EQ(native("data"), at("c/Data"));
    EXPECT_EQ(native("/already/native"), "/already/native");
    // A listed name may end in a dot; the services must reach that very file.
    file_at("c/Data/dot.");
    EXPECT_EQ(native("C:\\Data\\dot."), at("c/Data/dot."));
    EXPECT_EQ(native("Q:\\x"), "error 3");
}

// Directories resolved once are remembered for the run; the run's own
// renames, creations and removals must show at once, or files would be
// written where a directory used to be.
TEST_F(PosixDrives, RememberedDirectoriesFollowTheRunsChanges) {
    mkdir_at("c/Data");
    mkdir_at("c/Data/Sub");
    EXPECT_EQ(native("C:\\data\\sub\\f.txt"), at("c/Data/Sub/f.txt"));
    ASSERT_EQ(plat_move("C:\\Data\\Sub", "C:\\Data\\Moved"), 0);
    EXPECT_EQ(native("C:\\data\\sub\\f.txt"), at("c/Data/sub/f.txt"));
    EXPECT_EQ(native("C:\\data\\moved\\f.txt"), at("c/Data/Moved/f.txt"));
    ASSERT_EQ(plat_mkdir("C:\\Data\\SUB"), 0);
    EXPECT_EQ(native("C:\\data\\sub\\f.txt"), at("c/Data/SUB/f.txt"));
    ASSERT_EQ(plat_rmdir("C:\\Data\\SUB"), 0);
    EXPECT_EQ(native("C:\\data\\sub\\f.txt"), at("c/Data/sub/f.txt"));
}

} // namespace
