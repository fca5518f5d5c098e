#include "smx/number.h"

namespace {

// Value of c as a digit of base, or -1.
int digitValue(char c, uint32_t base) {
    int d;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    else
        return -1;
    return static_cast<uint32_t>(d) < base ? d : -1;
}

template <typename T> int parseBase(T *value, const char *digits, uint32_t base) {
    T v = 0;
    for (; *digits; ++digits) {
        int d = digitValue(*digits, base);
        if (d < 0) {
            *value = v;
            return -1;
        }
        v = v * base + static_cast<T>(d);
    }
    *value = v;
    return 0;
}

} // namespace

int smxParseDecimal(uint32_t *value, const char *digits) {
    return parseBase(value, digits, 10);
}
int smxParseOctal(uint32_t *value, const char *digits) {
    return parseBase(value, digits, 8);
}
int smxParseHex(uint32_t *value, const char *digits) {
    return parseBase(value, digits, 16);
}

int smxParseNumber(uint32_t *value, const char *text) {
    if (!text) {
        *value = 0;
        return 0;
    }
    if (text[0] == '0' && text[1] == 'x')
        return smxParseHex(value, text + 2);
    if (text[0] == '0')
        return smxParseOctal(value, text + 1);
    return smxParseDecimal(value, text);
}

int smxTextToUnsigned(uint32_t *value, const char *text) {
    return smxParseNumber(value, text);
}

int smxTextToUnsigned64(uint64_t *value, const char *text) {
    *value = 0;
    if (!text)
        return 0;
    if (text[0] == '0' && text[1] == 'x')
        return parseBase(value, text + 2, 16);
    if (text[0] == '0')
        return parseBase(value, text + 1, 8);
    return parseBase(value, text, 10);
}

int smxTextToInteger(int32_t *value, const char *text) {
    if (!text)
        return -1;
    bool negative = *text == '-';
    if (negative)
        ++text;
    uint32_t v;
    int result = smxParseNumber(&v, text);
    // Negate in unsigned arithmetic: it wraps like the parser's own sums.
    *value = static_cast<int32_t>(negative ? 0u - v : v);
    return result;
}

int smxHexToOctets(uint8_t *out, int capacity, const char *text) {
    int n = 0;
    for (; text && text[0] && text[1]; text += 2, ++n) {
        int high = digitValue(text[0], 16);
        int low = digitValue(text[1], 16);
        if (high < 0 || low < 0 || n >= capacity)
            return -1;
        out[n] = static_cast<uint8_t>(high << 4 | low);
    }
    return text && text[0] ? -1 : n; // an odd digit left over
}
