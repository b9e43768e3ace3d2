// Start-up, the standard streams and the clock of the POSIX backend.
#include "platform/platform.h"
#include "platform/posix/encoding.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <langinfo.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

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

FILE *stream_file(int stream) {
    if (stream == PLAT_STDOUT)
        return stdout;
    if (stream == PLAT_STDERR)
        return stderr;
    return nullptr;
}

} // namespace

int plat_startup(int argc, char **argv, char ***cpargv) {
    std::setlocale(LC_ALL, "");
    // Numbers print as the C runtime prints them on Windows, whatever the
    // locale's decimal point.
    std::setlocale(LC_NUMERIC, "C");
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    if (enc_init(nullptr) != 0) {
        std::fprintf(stderr,
                     "mox32: no conversion between the locale's encoding (%s) and code page 932\n",
                     nl_langinfo(CODESET));
        return -1;
    }
    free_args();
    argv932 = (char **)std::calloc((size_t)argc + 1, sizeof *argv932);
    if (argv932 == nullptr) {
        std::fputs("mox32: out of memory\n", stderr);
        return -1;
    }
    for (argc932 = 0; argc932 < argc; argc932++) {
        char *arg = enc_to_core_dup(argv[argc932], std::strlen(argv[argc932]), nullptr);
        if (arg == nullptr) {
            std::fputs("mox32: out of memory\n", stderr);
            free_args();
            return -1;
        }
        argv932[argc932] = arg;
    }
    *cpargv = argv932;
    return 0;
}

void plat_shutdown(void) {
    std::fflush(stdout);
    std::fflush(stderr);
    free_args();
    enc_done();
}

// Converts through a fixed buffer, a character boundary at a time, so that
// printing needs no memory however long the text is.
void plat_write(int stream, const char *text, size_t len) {
    FILE *f = stream_file(stream);
    if (f == nullptr)
        return;
    while (len > 0) {
        char buf[2048];
        size_t used;
        int n = enc_from_core_part(text, len, buf, sizeof buf, ENC_LENIENT, &used);
        if (n < 0 || used == 0)
            return;
        std::fwrite(buf, 1, (size_t)n, f);
        text += used;
        len -= used;
    }
}

int plat_textwidth(const char *text, size_t len) { return enc_columns(text, len); }

void plat_flush(int stream) {
    FILE *f = stream_file(stream);
    if (f != nullptr)
        std::fflush(f);
}

int plat_ischardev(int stream) {
    struct stat st;
    if (stream < PLAT_STDIN || stream > PLAT_STDERR || fstat(stream, &st) != 0)
        return 0;
    return S_ISCHR(st.st_mode) ? 1 : 0;
}

int plat_termcolumns(int stream) {
    if (stream < PLAT_STDIN || stream > PLAT_STDERR || !isatty(stream))
        return 0;
    struct winsize ws;
    if (ioctl(stream, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    return 80; // a serial line, say, that was never told its size
}

// The coarse clock is read without entering the kernel on every system
// that has it; its grain (a timer tick) is finer than anyone watches.
long long plat_clockms(void) {
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) != 0 && clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
        return 0;
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void plat_localtime(PlatTime *now) {
    time_t t = std::time(nullptr);
    struct tm tm;
    if (t == (time_t)-1 || localtime_r(&t, &tm) == nullptr) {
        // Only a clock beyond what struct tm holds gets here; the DOS epoch
        // is as good an answer as any.
        *now = PlatTime{1980, 1, 1, 0, 0, 0};
        return;
    }
    *now = PlatTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

int plat_importtext(const char *text, size_t len, char *out, size_t size) {
    if (std::memchr(text, 0, len) != nullptr) {
        if (size > 0)
            out[0] = '\0';
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    int n = enc_to_core(text, len, out, size);
    return n < 0 ? -1 : n;
}

int plat_slashsep(void) { return 1; }
