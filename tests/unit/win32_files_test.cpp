// File contents, temporary files and the text boundary of the Windows
// backend.
#include "win32_backend.h"

namespace {

class Win32Files : public Win32Tree {};

// GetTempFileNameW keeps three characters of a prefix: "_MOX_" names are
// made with CREATE_NEW instead, in the directory asked for and in TEMP.
TEST_F(Win32Files, TemporaryNamesKeepTheWholePrefix) {
    mkdir("w");
    char path[PLAT_NATIVE_SIZE];
    int h = plat_opentemp("C:\\w", "_MOX_", path, sizeof path);
    ASSERT_GE(h, 0);
    EXPECT_EQ(std::string(path).rfind("C:\\w\\_MOX_", 0), 0u) << path;
    EXPECT_EQ(std::strlen(path), std::strlen("C:\\w\\_MOX_") + 6);
    plat_close(h);
    EXPECT_EQ(plat_delete(path), 0);
    h = plat_mktemp(path, sizeof path);
    ASSERT_GE(h, 0);
    EXPECT_NE(std::string(path).find("\\tmp\\_MOX_"), std::string::npos) << path;
    plat_close(h);
    EXPECT_EQ(plat_delete(path), 0);
}

// What the core prints reaches a file or a pipe as its own bytes, escape
// pairs included: nothing is lost and the reader can decode it.
TEST_F(Win32Files, RedirectedOutputIsTheCoresBytes) {
    const std::string text = "a\xF0\x80\xF1\xEC \x95\x5C\n";
    Capture out(1);
    plat_write(PLAT_STDOUT, text.data(), text.size());
    EXPECT_EQ(out.text(), text);
}

TEST_F(Win32Files, CreateTruncatesAppendAppendsCutBack) {
    int h = plat_open("C:\\f.txt", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_write_file(h, "hello", 5), 5);
    plat_close(h);
    h = plat_open("C:\\f.txt", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_write_file(h, "!!", 2), 2);
    PlatFileState st;
    ASSERT_EQ(plat_filestate(h, &st), 0);
    EXPECT_EQ(st.size, 7u);
    EXPECT_EQ(plat_truncate(h, 5), 0);
    plat_close(h);
    EXPECT_EQ(slurp("f.txt"), "hello");
    EXPECT_EQ(plat_open("C:\\missing.txt", PLAT_OPEN_READ), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
    mkdir("d");
    EXPECT_EQ(plat_open("C:\\d", PLAT_OPEN_READ), -1); // a directory is no file
}

// UTF-16 names the system may hold, a lone surrogate and private-use
// characters among them, survive the trip into the core and back.
TEST(Win32Text, WideNamesRoundTrip) {
    for (const wchar_t *w : {L"abc", L"\u8868.txt", L"\u00e9\U0001F600", L"\xD800x", L"x\xDC00",
                             L"\xE000\xF8FF", L"\uFF76\u30AB"}) {
        char core[64];
        wchar_t back[32];
        int n = wide_to_core(w, wcslen(w), core, sizeof core);
        ASSERT_GE(n, 0);
        ASSERT_GE(core_to_wide(core, (size_t)n, back, 32, 0), 0);
        EXPECT_EQ(std::wstring(back), std::wstring(w));
    }
}

} // namespace
