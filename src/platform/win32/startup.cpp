// Start-up, the standard streams and the clock.
//
// Arguments come from the system as UTF-16 (GetCommandLineW), whatever the
// C runtime made of them in the ANSI code page, which loses every
// character it lacks. What the core prints goes to a console as UTF-16
// (WriteConsoleW, so é shows as é), and to a file or a pipe as the core's
// own bytes: code page 932 with the escape pairs, which lose nothing.
#include "platform/win32/native.h"

#include <shellapi.h>

#include "platform/common/codec.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace {

// The converted argument vector, owned here until plat_shutdown.
char **argv932;
int argc932;

void free_args(void) {
    for (int i = 0; i < argc932; i++)
        std::free(argv932[i]);
    std::free(argv932);
    argv932 = nullptr;
    argc932 = 0;
}

void say(const char *text) {
    DWORD put;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, (DWORD)std::strlen(text), &put, nullptr);
}

HANDLE stream_handle(int stream) {
    if (stream == PLAT_STDOUT)
        return GetStdHandle(STD_OUTPUT_HANDLE);
    if (stream == PLAT_STDERR)
        return GetStdHandle(STD_ERROR_HANDLE);
    return INVALID_HANDLE_VALUE;
}

int is_console(HANDLE h) {
    DWORD mode;
    return GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

// Converts a piece at a time through a fixed buffer, whole characters only.
void write_console(HANDLE h, const char *text, size_t len) {
    enum { PIECE = 1024 };
    while (len > 0) {
        size_t take = 0;
        while (take < len) {
            size_t w = codec_charlen(text + take, len - take);
            if (take + w > PIECE)
                break;
            take += w;
        }
        wchar_t w[PIECE + 1]; // a byte never gives more than one unit
        int n = core_to_wide(text, take, w, PIECE + 1, 1);
        DWORD put;
        if (n < 0 || !WriteConsoleW(h, w, (DWORD)n, &put, nullptr))
            return;
        text += take;
        len -= take;
    }
}

} // namespace

int plat_startup(int argc, char **argv, char ***cpargv) {
    (void)argc;
    (void)argv;
    // Letter case folds as the user's locale knows it (the listing's
    // order); numbers print as the C runtime prints them everywhere.
    std::setlocale(LC_CTYPE, "");
    signals_hook();
    if (wide_init() != 0) {
        say("mox32: no conversion for code page 932\n");
        return -1;
    }
    int n = 0;
    wchar_t **wargv = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wargv == nullptr) {
        say("mox32: out of memory\n");
        return -1;
    }
    free_args();
    argv932 = (char **)std::calloc((size_t)n + 1, sizeof *argv932);
    for (argc932 = 0; argv932 != nullptr && argc932 < n; argc932++) {
        char *arg = wide_to_core_dup(wargv[argc932], wcslen(wargv[argc932]));
        if (arg == nullptr)
            break;
        argv932[argc932] = arg;
    }
    LocalFree(wargv);
    if (argv932 == nullptr || argc932 < n) {
        say("mox32: out of memory\n");
        free_args();
        return -1;
    }
    *cpargv = argv932;
    return 0;
}

void plat_shutdown(void) { free_args(); }

// Nothing is buffered: every piece goes out as it comes, so standard
// output and standard error keep their order.
void plat_write(int stream, const char *text, size_t len) {
    HANDLE h = stream_handle(stream);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || len == 0)
        return;
    if (is_console(h)) {
        write_console(h, text, len);
        return;
    }
    while (len > 0) {
        DWORD put;
        DWORD want = len > 0x10000 ? 0x10000 : (DWORD)len;
        if (!WriteFile(h, text, want, &put, nullptr) || put == 0)
            return;
        text += put;
        len -= put;
    }
}

void plat_flush(int stream) { (void)stream; }

int plat_textwidth(const char *text, size_t len) { return wide_columns(text, len); }

int plat_ischardev(int stream) {
    DWORD which = stream == PLAT_STDIN    ? STD_INPUT_HANDLE
                  : stream == PLAT_STDOUT ? STD_OUTPUT_HANDLE
                  : stream == PLAT_STDERR ? STD_ERROR_HANDLE
                                          : 0;
    HANDLE h = which != 0 ? GetStdHandle(which) : INVALID_HANDLE_VALUE;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR;
}

int plat_termcolumns(int stream) {
    HANDLE h = stream == PLAT_STDIN ? GetStdHandle(STD_INPUT_HANDLE) : stream_handle(stream);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || !is_console(h))
        return 0; // NUL is a character device too, but no console
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(h, &info)) // an input handle has no window
        return 80;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

long long plat_clockms(void) { return (long long)GetTickCount64(); }

void plat_localtime(PlatTime *now) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    *now = PlatTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

// A list file is text in the ANSI code page, as Windows programs write
// it. When that is code page 932 its bytes are the core's own (and what
// this program prints to a file, escape pairs included, reads back
// unchanged); another code page is converted.
int plat_importtext(const char *text, size_t len, char *out, size_t size) {
    if (std::memchr(text, 0, len) != nullptr || size == 0) {
        if (size > 0)
            out[0] = '\0';
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    if (GetACP() == 932 || len == 0) {
        if (len >= size) {
            out[0] = '\0';
            return -1;
        }
        std::memcpy(out, text, len);
        out[len] = '\0';
        return (int)len;
    }
    int wn = MultiByteToWideChar(CP_ACP, 0, text, (int)len, nullptr, 0);
    wchar_t *w = wn > 0 ? (wchar_t *)std::malloc(sizeof(wchar_t) * (size_t)wn) : nullptr;
    int n = -1;
    if (w != nullptr && MultiByteToWideChar(CP_ACP, 0, text, (int)len, w, wn) == wn)
        n = wide_to_core(w, (size_t)wn, out, size);
    std::free(w);
    if (n < 0)
        out[0] = '\0';
    return n;
}

int plat_slashsep(void) { return 0; }
