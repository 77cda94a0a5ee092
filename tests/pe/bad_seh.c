/* A deliberately bad build for the exception-handler check: a SafeSEH table that lists only
   one handler of its own, and the image marked as using no handlers at all (--no-seh). */
#include <windows.h>

static EXCEPTION_DISPOSITION __cdecl OnlyListedHandler(void *record, void *frame, void *context,
                                                       void *dispatch)
{
    return ExceptionContinueSearch;
}

/* The table holds the handlers' relative addresses. */
extern const DWORD HandlerTable[];
__asm__(".section .rdata,\"dr\"\n\t.globl _HandlerTable\n_HandlerTable:\n\t.rva _OnlyListedHandler\n\t.text");

const IMAGE_LOAD_CONFIG_DIRECTORY32 _load_config_used = {
    .Size = sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32),
    .SEHandlerTable = (DWORD)HandlerTable,
    .SEHandlerCount = 1,
};

void __stdcall WinMainCRTStartup(void)
{
    ExitProcess((UINT)(UINT_PTR)OnlyListedHandler);
}
