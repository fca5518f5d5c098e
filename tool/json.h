// The JSON text of mibwalk -Oj (RFC 8259), written to standard output: one
// object per line, strings escaped, octets as hexadecimal.
#pragma once

#include <cstdint>

// True when n octets at p are well-formed UTF-8 (RFC 3629, 4): no overlong
// form, no surrogate, nothing above U+10FFFF; with controls false, also no C0
// control character and no DEL.
bool jsonUtf8(const uint8_t *p, int n, bool controls);

// Writes the n octets at p as a JSON string (RFC 8259, 7), quotes included;
// they must be valid UTF-8.
void jsonPutString(const uint8_t *p, int n);

// As jsonPutString for NUL-terminated text; null when it is no valid UTF-8.
void jsonPutText(const char *text);

// Writes ,"key": ahead of a member's value; key is plain ASCII.
void jsonPutKey(const char *key);

// The n octets at p as two lower-case hexadecimal digits each, in quotes.
void jsonPutHex(const uint8_t *p, int n);
