/* A deliberately bad build for the Windows 95 check: built for a Pentium Pro, so GCC emits
   conditional moves. */
#include <windows.h>

int Pick(int a, int b)
{
    return a > b ? a : b;
}

void __stdcall WinMainCRTStartup(void)
{
    ExitProcess(Pick(GetTickCount(), 7));
}
