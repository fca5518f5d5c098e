// Number text: C-style literals (decimal, octal after "0", hexadecimal after
// "0x") into 32-bit values. No sign (but smxTextToInteger), no blank skipping,
// arithmetic wraps without a check. Every parser stores the value accumulated
// so far, also when it fails with -1.
#pragma once

#include <cstdint>

int smxParseNumber(uint32_t *value, const char *text);
int smxParseDecimal(uint32_t *value, const char *digits);
int smxParseOctal(uint32_t *value, const char *digits);
int smxParseHex(uint32_t *value, const char *digits);
int smxTextToUnsigned(uint32_t *value, const char *text);
int smxTextToUnsigned64(uint64_t *value, const char *text); // the same forms, in 64 bits
int smxTextToInteger(int32_t *value, const char *text);
// Hexadecimal text, digits in either case, into octets: their count, or -1
// when the text is not whole pairs of digits or holds more than capacity octets.
int smxHexToOctets(uint8_t *out, int capacity, const char *text);
