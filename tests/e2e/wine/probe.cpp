// A tiny Win32 program that the tests of wine/run.sh start in place of
// mox32.exe, to see what reaches a Windows program and what comes back from
// it, without depending on the state of the real Win32 build.
//
//   args            each argument as UTF-16 code units in hex, one per line
//   exit N          ends with status N
//   hexin           standard input as bytes in hex
//   cp932           writes 0x95 0x5C (a kanji whose second byte is "\") CRLF
//   echo            copies standard input to standard output and error
//   drives          the letters that have a root directory, and the
//                   current directory
//   temp            creates probe.tmp in the temporary directory, prints it
//   sleepdrives MS  sleeps, then does what drives does
//   ask             writes lines of 81 and 80 columns (the line end in the
//                   same write and in a write of its own) and a prompt to
//                   the console, reads a key and writes it back
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

void write_to(DWORD which, const std::string &s) {
    DWORD done;
    WriteFile(GetStdHandle(which), s.data(), static_cast<DWORD>(s.size()), &done, nullptr);
}

void out(const std::string &s) { write_to(STD_OUTPUT_HANDLE, s); }

// ASCII text of a wide string (the probe only shows drive paths).
std::string narrow(const wchar_t *w) {
    std::string s;
    for (; *w != 0; w++)
        s += *w < 0x80 ? static_cast<char>(*w) : '?';
    return s;
}

std::string read_input() {
    std::string s;
    char buf[4096];
    DWORD n;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &n, nullptr) && n > 0)
        s.append(buf, n);
    return s;
}

int args(int argc, wchar_t **argv) {
    for (int i = 2; i < argc; i++) {
        std::string line;
        for (const wchar_t *p = argv[i]; *p != 0; p++) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%s%04X", p == argv[i] ? "" : " ", static_cast<unsigned>(*p));
            line += hex;
        }
        out(line + "\r\n");
    }
    return 0;
}

int hexin() {
    std::string line;
    for (unsigned char c : read_input()) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", c);
        line += hex;
    }
    out(line + "\r\n");
    return 0;
}

int drives() {
    std::string line;
    for (wchar_t c = L'A'; c <= L'Z'; c++) {
        wchar_t root[] = {c, L':', L'\\', 0};
        if (GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR)
            line += std::string(line.empty() ? "" : " ") + static_cast<char>(c);
    }
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    out(line + "\r\n" + narrow(cwd) + "\r\n");
    return 0;
}

int temp() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"probe.tmp";
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(h);
    out(narrow(path.c_str()) + "\r\n");
    return 0;
}

void console(const wchar_t *s) {
    DWORD done;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), s, static_cast<DWORD>(wcslen(s)), &done, nullptr);
}

int ask() {
    std::wstring wide(81, L'x');
    console(L"line \x8868\r\n");
    console((wide + L"\r\n").c_str());
    console((wide.substr(0, 80) + L"\r\n").c_str());
    console(wide.substr(0, 80).c_str());
    console(L"\r\n");
    console(L"Key? ");
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return 1;
    SetConsoleMode(in, 0);
    INPUT_RECORD r;
    DWORD n;
    wchar_t key = 0;
    while (key == 0 && ReadConsoleInputW(in, &r, 1, &n) && n == 1) {
        if (r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown)
            key = r.Event.KeyEvent.uChar.UnicodeChar;
    }
    CloseHandle(in);
    wchar_t got[] = {L'g', L'o', L't', L' ', key, L'\r', L'\n', 0};
    console(got);
    return 0;
}

} // namespace

int main() {
    int argc;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2)
        return 2;
    std::wstring what = argv[1];
    if (what == L"args")
        return args(argc, argv);
    if (what == L"exit" && argc > 2)
        return _wtoi(argv[2]);
    if (what == L"hexin")
        return hexin();
    if (what == L"cp932") {
        out("\x95\x5c\r\n");
        return 0;
    }
    if (what == L"echo") {
        std::string s = read_input();
        out(s);
        write_to(STD_ERROR_HANDLE, s);
        return 0;
    }
    if (what == L"drives")
        return drives();
    if (what == L"temp")
        return temp();
    if (what == L"sleepdrives" && argc > 2) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        return drives();
    }
    if (what == L"ask")
        return ask();
    return 2;
}
