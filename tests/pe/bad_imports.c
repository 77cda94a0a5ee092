/* A deliberately bad build for the Windows 95 check: imports a function Windows 95 lacks. */
#include <windows.h>

void __stdcall WinMainCRTStartup(void)
{
    ExitProcess(IsDebuggerPresent());
}
