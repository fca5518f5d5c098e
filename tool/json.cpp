#include "tool/json.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr char hexDigits[] = "0123456789abcdef";
}

bool jsonUtf8(const uint8_t *p, int n, bool controls) {
    for (int i = 0; i < n;) {
        uint8_t c = p[i];
        if (c < 0x80) {
            if (!controls && (c < 0x20 || c == 0x7F))
                return false;
            ++i;
            continue;
        }
        // RFC 3629, 4: the lead octet fixes the length and the range of the
        // second octet; C0, C1 and F5 to FF never appear.
        int more = c >= 0xC2 && c <= 0xDF   ? 1
                   : c >= 0xE0 && c <= 0xEF ? 2
                   : c >= 0xF0 && c <= 0xF4 ? 3
                                            : 0;
        if (more == 0 || more >= n - i)
            return false;
        uint8_t low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        uint8_t high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (p[i + 1] < low || p[i + 1] > high)
            return false;
        for (int k = 2; k <= more; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        i += more + 1;
    }
    return true;
}

void jsonPutString(const uint8_t *p, int n) {
    putchar('"');
    for (int i = 0; i < n; ++i) {
        uint8_t c = p[i];
        const char *shortForm = c == '"'    ? "\\\""
                                : c == '\\' ? "\\\\"
                                : c == '\b' ? "\\b"
                                : c == '\f' ? "\\f"
                                : c == '\n' ? "\\n"
                                : c == '\r' ? "\\r"
                                : c == '\t' ? "\\t"
                                            : nullptr;
        if (shortForm) {
            fputs(shortForm, stdout);
        } else if (c < 0x20) { // RFC 8259, 7: every other control character
            fputs("\\u00", stdout);
            putchar(hexDigits[c >> 4]);
            putchar(hexDigits[c & 0x0F]);
        } else {
            putchar(c);
        }
    }
    putchar('"');
}

void jsonPutText(const char *text) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(text);
    int n = static_cast<int>(strlen(text));
    if (jsonUtf8(p, n, true))
        jsonPutString(p, n);
    else
        fputs("null", stdout);
}

void jsonPutKey(const char *key) {
    putchar(',');
    putchar('"');
    fputs(key, stdout);
    fputs("\":", stdout);
}

void jsonPutHex(const uint8_t *p, int n) {
    putchar('"');
    for (int i = 0; i < n; ++i) {
        putchar(hexDigits[p[i] >> 4]);
        putchar(hexDigits[p[i] & 0x0F]);
    }
    putchar('"');
}
