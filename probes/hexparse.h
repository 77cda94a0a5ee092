// Base-16 text to a 32-bit long, as the C library's strtol reads it, for builds without one.
#ifndef QORVALIN_HEXPARSE_H
#define QORVALIN_HEXPARSE_H

#include <stdint.h>

// Reads like strtol(text, end, 16) with a 32-bit long: leading white space, an optional sign
// and an optional "0x" or "0X" are accepted, reading stops at the first character that is not
// a hex digit, no digits give 0 (and *end = text), and a value out of range gives INT32_MAX or
// INT32_MIN. end may be null.
int32_t HexToLong(const char *text, const char **end);

#endif
