// Base-16 text to a 32-bit long with the C library's strtol rules.
#include "probes/hexparse.h"

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int32_t HexToLong(const char *text, const char **end)
{
    const char *p = text;
    while (IsBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // "0x" is a prefix only when a hex digit follows; otherwise the 0 is the number and the x
    // is where reading stops.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0)
        p += 2;
    // The magnitude is collected up to 2^31, the largest that a negative result can hold;
    // anything beyond is out of range for both signs.
    const uint32_t limit = 0x80000000u;
    uint32_t magnitude = 0;
    bool overflow = false;
    const char *digits = p;
    for (int digit; (digit = HexDigit(*p)) >= 0; ++p) {
        if (overflow || magnitude > (limit - (uint32_t)digit) / 16)
            overflow = true;
        else
            magnitude = magnitude * 16 + (uint32_t)digit;
    }
    if (end != nullptr)
        *end = p == digits ? text : p;
    if (negative) {
        if (overflow)
            return INT32_MIN;
        return magnitude == limit ? INT32_MIN : -(int32_t)magnitude;
    }
    if (overflow || magnitude >= limit)
        return INT32_MAX;
    return (int32_t)magnitude;
}
