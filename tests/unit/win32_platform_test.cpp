// What only the Windows backend does, beside the contract: the UTF-16 side
// of the text boundary, and what Wine would get wrong with links and with
// files it cannot delete.
#include "platform_test.h"

#include "platform/win32/native.h"

namespace {

class Win32Only : public PlatformTest {};

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

// What the core prints reaches a file or a pipe as its own bytes, escape
// pairs included: nothing is lost and the reader can decode it.
TEST_F(Win32Only, RedirectedOutputIsTheCoresBytes) {
    const std::string text = "a\xF0\x80\xF1\xEC \x95\x5C\n";
    Capture out(1);
    plat_write(PLAT_STDOUT, text.data(), text.size());
    EXPECT_EQ(out.text(), text);
}

// Wine moves and recycles the file a link names, not the link: both are
// refused, and the target stays where it was.
TEST_F(Win32Only, LinkToAFileIsNeitherMovedNorRecycled) {
    put("target.txt", "precious");
    ASSERT_TRUE(symlink(at("target.txt"), at("link.txt")));
    EXPECT_EQ(plat_move("C:\\link.txt", "C:\\moved.txt"), -1);
    EXPECT_EQ(plat_recycle("C:\\link.txt"), -1);
    EXPECT_EQ(listed(""), (Names{"link.txt", "target.txt"}));
    EXPECT_EQ(slurp("target.txt"), "precious");
}

// A file Wine could not delete (immutable) used to count as deleted.
TEST_F(Win32Only, DeleteRefusedUnlessTheFileIsGone) {
    file("fixed.txt", 3);
    std::string u = unix_path(at("fixed.txt"));
    unix_sh("chattr +i '" + u + "' && : > '" + u + ".ok'");
    if (!exists("fixed.txt.ok"))
        GTEST_SKIP() << "no immutable files here (root and a file system that has them)";
    int r = plat_delete("C:\\fixed.txt");
    unix_sh("chattr -i '" + u + "'");
    EXPECT_EQ(r, -1);
    EXPECT_TRUE(exists("fixed.txt"));
}

} // namespace
