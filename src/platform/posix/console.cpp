// Key presses from the terminal itself (/dev/tty), whatever standard input
// is: the prompts must reach the user even when a list is piped in.
//
// A key is read in raw mode (no line editing, no echo; Ctrl-C still
// interrupts) and the terminal's own mode is put back after every key, at
// exit, and when a signal ends the process while it waits. A signal that
// ends a long copy also blanks its progress line.
#include "platform/platform.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

enum { TTY_UNTRIED = -2, TTY_NONE = -1 };

// Bytes of one escape sequence arrive together; a lone Esc is followed by
// silence.
const int SEQ_WAIT_MS = 30;

int tty = TTY_UNTRIED;
int scan = -1; // the scan code owed to the next plat_readkey
// The terminal is in raw mode and `saved` holds its own mode; read by the
// handler of the signals that end a run.
volatile sig_atomic_t raw;
struct termios saved;
int atexit_set;
// Columns of the status line standing on standard error; read by the
// handler of the signals that end a run.
volatile sig_atomic_t statuscols;

// Escape sequences of the common terminals and the scan codes a Windows
// console reports for the same keys.
struct SeqKey {
    const char *seq;
    int scan;
};
const SeqKey seqkeys[] = {
    {"[A", 72},   {"OA", 72},   {"[B", 80},   {"OB", 80},   {"[C", 77},   {"OC", 77},
    {"[D", 75},   {"OD", 75},   {"[H", 71},   {"OH", 71},   {"[1~", 71},  {"[7~", 71},
    {"[F", 79},   {"OF", 79},   {"[4~", 79},  {"[8~", 79},  {"[2~", 82},  {"[3~", 83},
    {"[5~", 73},  {"[6~", 81},  {"OP", 59},   {"OQ", 60},   {"OR", 61},   {"OS", 62},
    {"[11~", 59}, {"[12~", 60}, {"[13~", 61}, {"[14~", 62}, {"[[A", 59},  {"[[B", 60},
    {"[[C", 61},  {"[[D", 62},  {"[[E", 63},  {"[15~", 63}, {"[17~", 64}, {"[18~", 65},
    {"[19~", 66}, {"[20~", 67}, {"[21~", 68},
};

int tty_fd(void) {
    if (tty == TTY_UNTRIED) {
        tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (tty < 0)
            tty = TTY_NONE;
    }
    return tty;
}

// The terminal hung up or cannot be read: from now on there is no console.
void lose_tty(void) {
    if (tty >= 0)
        close(tty);
    tty = TTY_NONE;
}

void raw_leave(void) {
    if (!raw)
        return;
    tcsetattr(tty, TCSANOW, &saved);
    raw = 0;
}

void leave_at_exit(void) { raw_leave(); }

int raw_enter(int fd) {
    struct termios t;
    if (raw)
        return 0;
    if (tcgetattr(fd, &saved) != 0)
        return -1;
    if (!atexit_set)
        atexit_set = std::atexit(leave_at_exit) == 0;
    signals_hook();
    t = saved;
    t.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    // Raw from before the change on: a signal that comes while the mode
    // changes then restores the saved one, which is never wrong.
    raw = 1;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        raw = 0;
        return -1;
    }
    return 0;
}

// One byte, or -1 at end of file or on an error.
int read_byte(int fd) {
    unsigned char c;
    for (;;) {
        ssize_t n = read(fd, &c, 1);
        if (n == 1)
            return c;
        if (n < 0 && errno == EINTR)
            continue;
        return -1;
    }
}

// 1 when a byte can be read within ms milliseconds.
int byte_waiting(int fd, int ms) {
    struct pollfd p = {fd, POLLIN, 0};
    int r;
    do
        r = poll(&p, 1, ms);
    while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

// Reads the rest of an escape sequence after its Esc, no further than its
// end, so a key typed right after it stays for the next call.
int read_sequence(int fd) {
    char seq[16];
    size_t n = 0;
    int c = read_byte(fd);
    if (c < 0)
        return 0;
    seq[n++] = (char)c;
    if (c == '[') {
        // Parameters, then a final byte; the Linux console's F1..F5 are
        // "[[" and one letter more.
        while (n < sizeof seq - 1 && byte_waiting(fd, SEQ_WAIT_MS) && (c = read_byte(fd)) >= 0) {
            seq[n++] = (char)c;
            if (c >= 0x40 && c <= 0x7E && !(n == 2 && c == '['))
                break;
        }
    } else if (c == 'O' && byte_waiting(fd, SEQ_WAIT_MS) && (c = read_byte(fd)) >= 0) {
        seq[n++] = (char)c;
    }
    seq[n] = '\0';
    for (const SeqKey &k : seqkeys)
        if (std::strcmp(seq, k.seq) == 0)
            return k.scan;
    return 0;
}

int read_key(int fd) {
    int c = read_byte(fd);
    if (c == '\n' || c == '\r')
        return 13;
    if (c == 0x7F) // the Backspace key of most terminals
        return 8;
    if (c != 27 || !byte_waiting(fd, SEQ_WAIT_MS))
        return c;
    scan = read_sequence(fd);
    return 0;
}

// The status line goes as out.cpp erases it: a carriage return, spaces
// over it, a carriage return. Written to the descriptor itself, since
// standard error is unbuffered and stdio is no business of a handler.
void blank_status(void) {
    static const char spaces[] = "                                ";
    int left = statuscols;
    if (write(PLAT_STDERR, "\r", 1) != 1)
        return;
    while (left > 0) {
        int n = left < (int)sizeof spaces - 1 ? left : (int)sizeof spaces - 1;
        if (write(PLAT_STDERR, spaces, (size_t)n) != n)
            return;
        left -= n;
    }
    if (write(PLAT_STDERR, "\r", 1) != 1)
        return;
}

} // namespace

void console_on_signal(void) {
    if (raw)
        tcsetattr(tty, TCSANOW, &saved);
    if (statuscols > 0)
        blank_status();
}

void plat_statuscolumns(int columns) {
    if (columns > 0)
        signals_hook();
    statuscols = columns;
}

int plat_readkey(void) {
    if (scan >= 0) {
        int k = scan;
        scan = -1;
        return k;
    }
    int fd = tty_fd();
    if (fd < 0 || raw_enter(fd) != 0)
        return -1;
    int key = read_key(fd);
    raw_leave();
    if (key < 0)
        lose_tty();
    return key;
}

// The terminal stays raw after a test: a key typed before the next test
// must be seen without Enter and must not be echoed. The plat_readkey that
// follows, or the exit, restores it.
int plat_keyhit(void) {
    if (scan >= 0)
        return 1;
    int fd = tty_fd();
    if (fd < 0 || raw_enter(fd) != 0)
        return -1;
    struct pollfd p = {fd, POLLIN, 0};
    int r = poll(&p, 1, 0);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r > 0 && !(p.revents & POLLIN)) {
        raw_leave();
        lose_tty();
        return -1;
    }
    return r > 0;
}
