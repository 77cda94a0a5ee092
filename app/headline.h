// The headline font's height: the dialog font's height enlarged by a quarter.
#ifndef QORVALIN_HEADLINE_H
#define QORVALIN_HEADLINE_H

#include <stdint.h>

// Font heights are signed (negative means character height), so the quarter keeps the sign
// and C++ division truncates it toward zero. A height too large to grow stays at the limit
// rather than wrapping round to the opposite sign.
inline int32_t EnlargedFontHeight(int32_t height)
{
    int64_t enlarged = (int64_t)height + height / 4;
    if (enlarged > INT32_MAX)
        return INT32_MAX;
    if (enlarged < INT32_MIN)
        return INT32_MIN;
    return (int32_t)enlarged;
}

#endif
