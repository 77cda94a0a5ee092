// The program's own small C runtime: the process entry point and the string and memory
// functions that the program and the compiler call, so that no C runtime DLL is imported.
#include <stddef.h>
#include <string.h>

// The native tests build this file under other names, to compare it with the C library.
#ifdef QORVALIN_CRT_TEST
#define CRT(name) crt_##name
#else
#define CRT(name) name
#endif

extern "C" {

size_t CRT(strlen)(const char *text)
{
    const char *end = text;
    while (*end != '\0')
        ++end;
    return (size_t)(end - text);
}

char *CRT(strcpy)(char *to, const char *from)
{
    char *out = to;
    while ((*out++ = *from++) != '\0') {
    }
    return to;
}

char *CRT(strcat)(char *to, const char *from)
{
    CRT(strcpy)(to + CRT(strlen)(to), from);
    return to;
}

// Characters compare as unsigned char, as the C library's functions do.
int CRT(strcmp)(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return (int)(unsigned char)*a - (int)(unsigned char)*b;
}

int CRT(strncmp)(const char *a, const char *b, size_t count)
{
    for (; count != 0; --count, ++a, ++b) {
        if (*a != *b || *a == '\0')
            return (int)(unsigned char)*a - (int)(unsigned char)*b;
    }
    return 0;
}

char *CRT(strstr)(const char *text, const char *part)
{
    if (*part == '\0')
        return (char *)text;
    for (; *text != '\0'; ++text) {
        const char *t = text;
        const char *p = part;
        while (*p != '\0' && *t == *p) {
            ++t;
            ++p;
        }
        if (*p == '\0')
            return (char *)text;
    }
    return NULL;
}

void *CRT(memcpy)(void *to, const void *from, size_t count)
{
    unsigned char *out = (unsigned char *)to;
    const unsigned char *in = (const unsigned char *)from;
    while (count-- != 0)
        *out++ = *in++;
    return to;
}

void *CRT(memmove)(void *to, const void *from, size_t count)
{
    unsigned char *out = (unsigned char *)to;
    const unsigned char *in = (const unsigned char *)from;
    if (out <= in || out >= in + count) {
        while (count-- != 0)
            *out++ = *in++;
    } else {
        // The ranges overlap with the target above the source: copy from the end down.
        out += count;
        in += count;
        while (count-- != 0)
            *--out = *--in;
    }
    return to;
}

void *CRT(memset)(void *to, int value, size_t count)
{
    unsigned char *out = (unsigned char *)to;
    while (count-- != 0)
        *out++ = (unsigned char)value;
    return to;
}

}  // extern "C"

#ifndef QORVALIN_CRT_TEST
#include <windows.h>

// The command-line tail: what follows the program's own name (quoted or not) and the blanks
// after it.
static LPSTR CommandLineTail()
{
    char *text = GetCommandLineA();
    if (*text == '"') {
        ++text;
        while (*text != '\0' && *text != '"')
            ++text;
        if (*text == '"')
            ++text;
    } else {
        while (*text != '\0' && *text != ' ' && *text != '\t')
            ++text;
    }
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
}

extern "C" void WinMainCRTStartup()
{
    STARTUPINFOA startup;
    CRT(memset)(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, CommandLineTail(), show));
}
#endif
