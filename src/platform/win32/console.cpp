// Key presses from the console itself (CONIN$), whatever standard input
// is: the prompts must reach the user even when a list is piped in. A key
// is read with line input and echo off, and the console's mode is put back
// after every key and by the control handler, which also blanks the
// progress line of a long copy.
#include "platform/win32/native.h"

#include <cstring>

namespace {

HANDLE con;       // null until tried; INVALID_HANDLE_VALUE when there is none
int scan = -1;    // the scan code owed to the next plat_readkey
DWORD saved;      // the console's own mode while `raw` is set
volatile LONG raw;
volatile LONG statuscols; // columns of the status line standing on standard error

HANDLE conin(void) {
    if (con == nullptr) {
        DWORD mode;
        con = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (con != INVALID_HANDLE_VALUE && !GetConsoleMode(con, &mode)) {
            CloseHandle(con);
            con = INVALID_HANDLE_VALUE;
        }
    }
    return con;
}

// The console went away or cannot be read: from now on there is none.
void lose(void) {
    if (con != nullptr && con != INVALID_HANDLE_VALUE)
        CloseHandle(con);
    con = INVALID_HANDLE_VALUE;
}

int raw_enter(HANDLE h) {
    if (!GetConsoleMode(h, &saved))
        return -1;
    raw = 1;
    // Ctrl-C still interrupts; nothing waits for Enter, nothing echoes.
    if (!SetConsoleMode(h, ENABLE_PROCESSED_INPUT)) {
        raw = 0;
        return -1;
    }
    return 0;
}

void raw_leave(void) {
    if (raw)
        SetConsoleMode(con, saved);
    raw = 0;
}

int is_modifier(WORD vk) {
    return vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU || vk == VK_CAPITAL ||
           vk == VK_NUMLOCK || vk == VK_SCROLL || vk == VK_LWIN || vk == VK_RWIN || vk == VK_APPS;
}

// A key press that gives a key to the caller (not a release, not Shift).
int is_key(const INPUT_RECORD *r) {
    return r->EventType == KEY_EVENT && r->Event.KeyEvent.bKeyDown &&
           !is_modifier(r->Event.KeyEvent.wVirtualKeyCode);
}

// The key of a press: Esc comes as a key without a character, an arrow or
// a function key as 0 and then its scan code. A character beyond ASCII is
// no answer to any prompt: it gives "?".
int key_of(const KEY_EVENT_RECORD *k) {
    wchar_t ch = k->uChar.UnicodeChar;
    if (k->wVirtualKeyCode == VK_RETURN || ch == L'\r' || ch == L'\n')
        return 13;
    if (k->wVirtualKeyCode == VK_ESCAPE || ch == 27)
        return 27;
    if (ch == 0) {
        scan = k->wVirtualScanCode;
        return 0;
    }
    return ch < 0x80 ? (int)ch : '?';
}

int read_key(HANDLE h) {
    for (;;) {
        INPUT_RECORD r;
        DWORD n;
        if (!ReadConsoleInputW(h, &r, 1, &n) || n == 0)
            return -1;
        if (is_key(&r))
            return key_of(&r.Event.KeyEvent);
    }
}

} // namespace

void console_on_ctrl(void) {
    if (raw)
        SetConsoleMode(con, saved);
    // The status line goes as out.cpp erases it: spaces over it between
    // two carriage returns (it is never wider than 255 columns).
    LONG n = statuscols;
    if (n <= 0)
        return;
    char blank[258];
    if (n > 255)
        n = 255;
    blank[0] = '\r';
    std::memset(blank + 1, ' ', (size_t)n);
    blank[n + 1] = '\r';
    DWORD put;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), blank, (DWORD)n + 2, &put, nullptr);
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
    HANDLE h = conin();
    if (h == INVALID_HANDLE_VALUE || raw_enter(h) != 0)
        return -1;
    int key = read_key(h);
    raw_leave();
    if (key < 0)
        lose();
    return key;
}

// Events that are no key press are dropped, so that a key behind them is
// seen.
int plat_keyhit(void) {
    if (scan >= 0)
        return 1;
    HANDLE h = conin();
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    for (;;) {
        INPUT_RECORD r;
        DWORD n;
        if (!PeekConsoleInputW(h, &r, 1, &n)) {
            lose();
            return -1;
        }
        if (n == 0)
            return 0;
        if (is_key(&r))
            return 1;
        ReadConsoleInputW(h, &r, 1, &n);
    }
}
