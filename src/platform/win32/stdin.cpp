// Taking over a redirected standard input for the "@" source list.
#include "platform/win32/native.h"

int plat_takestdin(void) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE || GetFileType(in) == FILE_TYPE_CHAR) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    // Standard input reads from the console from now on; with none (a
    // script, a service) it reads nothing, and the list is used all the same.
    HANDLE con = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (con == INVALID_HANDLE_VALUE)
        con = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    if (con != INVALID_HANDLE_VALUE)
        SetStdHandle(STD_INPUT_HANDLE, con);
    return from_handle(in);
}
