// The few C library functions the kernel's code calls, or the compiler calls for it, with no
// C library underneath.
#include <stddef.h>

extern "C" {

size_t strlen(const char *text)
{
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

void *memcpy(void *to, const void *from, size_t size)
{
    unsigned char *out = (unsigned char *)to;
    const unsigned char *in = (const unsigned char *)from;
    while (size--)
        *out++ = *in++;
    return to;
}

void *memset(void *to, int value, size_t size)
{
    unsigned char *out = (unsigned char *)to;
    while (size--)
        *out++ = (unsigned char)value;
    return to;
}
}
