/* A deliberately bad build for the Windows 95 check: the default MinGW start-up code, which
   imports the C runtime DLL. */
#include <stdio.h>

int main(void)
{
    puts("hello");
    return 0;
}
