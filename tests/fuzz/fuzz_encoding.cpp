// The name encoding both ways: any bytes in the user's encoding cross into
// code page 932 and come back exactly as they were, as every file name must.
// The first byte picks the external encoding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/encoding.h"

namespace {

const char *const CODESETS[] = {"UTF-8", "UTF-8", "UTF-8", "EUC-JP", "SHIFT_JIS", "ISO-8859-1"};
int current = -1;

void check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    int pick = data[0] % (int)(sizeof CODESETS / sizeof *CODESETS);
    if (pick != current) {
        check(enc_init(CODESETS[pick]) == 0);
        current = pick;
    }
    const char *ext = (const char *)data + 1;
    size_t len = size - 1;
    std::vector<char> core(4 * len + 1), back(4 * len + 16);
    int n = enc_to_core(ext, len, core.data(), core.size());
    check(n >= 0 && (size_t)n <= 4 * len);
    int m = enc_from_core(core.data(), (size_t)n, back.data(), back.size(), 0);
    check(m >= 0 && (size_t)m == len && std::memcmp(back.data(), ext, len) == 0);

    size_t dlen = 0;
    char *dup = enc_to_core_dup(ext, len, &dlen);
    check(dup != nullptr && dlen == (size_t)n && std::memcmp(dup, core.data(), dlen) == 0);
    std::free(dup);

    // Through a small buffer a piece at a time, as printing goes.
    size_t at = 0, out = 0;
    while (at < (size_t)n) {
        char piece[16];
        size_t used;
        int k = enc_from_core_part(core.data() + at, (size_t)n - at, piece, sizeof piece, 0, &used);
        check(k >= 0 && used > 0 && out + (size_t)k <= len &&
              std::memcmp(piece, ext + out, (size_t)k) == 0);
        at += used;
        out += (size_t)k;
    }
    check(out == len);

    // Lenient output of any core text, and its width, never fail.
    enc_from_core(ext, len, back.data(), back.size(), ENC_LENIENT);
    check(enc_columns(ext, len) >= 0);
    for (size_t i = 0; i < len;)
        i += enc_charlen(ext + i, len - i);
    return 0;
}
