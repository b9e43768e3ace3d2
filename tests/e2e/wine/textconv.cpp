// mox32-textconv: turns the text a Win32 build reads and writes into what
// the Linux build would read and write in a UTF-8 locale, and back, so that
// one end-to-end suite can test both builds.
//
//   mox32-textconv --from-cp932  code page 932 with the escape pairs and
//                                CRLF line ends in, UTF-8 with LF out
//   mox32-textconv --to-cp932    UTF-8 in, code page 932 with escape pairs out
//
// It converts through the Linux build's own platform layer (the text boundary
// every name and message of that build crosses), so that an escape pair the
// Win32 build wrote decodes into the very bytes the Linux build would have
// written. Text is converted a line at a time as it arrives: a line end byte
// is never part of a double-byte character, so a line is always whole text.
#include "platform/platform.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool read_some(std::string &buf) {
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n > 0) {
            buf.append(chunk, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

void write_all(const char *p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(1, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            std::exit(1);
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// Code page 932 out as UTF-8, a CR before LF dropped.
void from_cp932(const std::string &text) {
    size_t len = text.size();
    if (len > 0 && text[len - 1] == '\n') {
        len--;
        if (len > 0 && text[len - 1] == '\r')
            len--;
    }
    plat_write(PLAT_STDOUT, text.data(), len);
    if (len < text.size())
        plat_write(PLAT_STDOUT, "\n", 1);
}

// UTF-8 out as code page 932. The import refuses a NUL (the core's text
// ends there), so the pieces between NULs go one by one.
void to_cp932(const std::string &text) {
    size_t start = 0;
    for (;;) {
        size_t nul = text.find('\0', start);
        size_t end = nul == std::string::npos ? text.size() : nul;
        std::vector<char> out(4 * (end - start) + 1);
        int n = plat_importtext(text.data() + start, end - start, out.data(), out.size());
        if (n < 0)
            std::exit(1);
        write_all(out.data(), static_cast<size_t>(n));
        if (nul == std::string::npos)
            return;
        write_all("", 1);
        start = nul + 1;
    }
}

} // namespace

int main(int argc, char **argv) {
    bool decode = argc == 2 && std::strcmp(argv[1], "--from-cp932") == 0;
    bool encode = argc == 2 && std::strcmp(argv[1], "--to-cp932") == 0;
    if (!decode && !encode) {
        std::fputs("usage: mox32-textconv --from-cp932 | --to-cp932\n", stderr);
        return 2;
    }
    // The Linux side of the conversion is UTF-8, whatever the caller's locale.
    ::setenv("LC_ALL", "C.UTF-8", 1);
    char **cpargv;
    if (plat_startup(argc, argv, &cpargv) != 0)
        return 1;
    std::string pending;
    bool more = true;
    while (more) {
        more = read_some(pending);
        // Whole lines while input lasts, then whatever is left.
        size_t end = more ? pending.rfind('\n') + 1 : pending.size();
        if (end == 0)
            continue;
        if (encode) {
            to_cp932(pending.substr(0, end));
        } else {
            for (size_t start = 0; start < end;) {
                size_t nl = pending.find('\n', start);
                size_t stop = nl < end ? nl + 1 : end;
                from_cp932(pending.substr(start, stop - start));
                start = stop;
            }
            plat_flush(PLAT_STDOUT);
        }
        pending.erase(0, end);
    }
    plat_shutdown();
    return 0;
}
