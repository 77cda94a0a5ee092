// Port access for the Windows product: the program's own in/out instructions, each under a guard
// that turns the exception of a denied access (NT, 64-bit Windows, Wine) into a false result
// instead of the end of the process.
#include "platform/platform.h"
#include "platform/win32/win32.h"
#include "platform/x86/portio.h"

// A denied port instruction raises a privileged-instruction exception; a system may report
// the general-protection fault behind it as an access violation instead. Either means denial
// only at the guarded instruction itself: anything else is not ours to swallow. Until the
// instruction's code has written its site, the site names none (a jump to address 0 is not it).
static bool IsDenial(const EXCEPTION_RECORD *record, const PortSite *site)
{
    return (record->ExceptionCode == EXCEPTION_PRIV_INSTRUCTION ||
            record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) &&
           site->instruction != nullptr && record->ExceptionAddress == site->instruction;
}

// The handler may run as soon as the guard is armed, before the instruction's code has
// recorded where it sits.
static void ClearSite(PortSite *site)
{
    site->instruction = nullptr;
    site->resume = nullptr;
}

#if defined(__i386__)

// A frame-based handler, linked into the thread's chain at fs:[0] for the one instruction:
// Windows 95 has no vectored handlers. The system's part of the record (next, handler) comes
// first; the handler finds the rest through the frame pointer it is given.
struct PortGuard {
    PortGuard *next;
    void *handler;
    PortSite site;
    volatile bool denied;
};

static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD *record, void *frame,
                                                  CONTEXT *context, void *)
{
    PortGuard *guard = (PortGuard *)frame;
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
        !IsDenial(record, &guard->site))
        return ExceptionContinueSearch;
    guard->denied = true;
    context->Eip = (DWORD)(uintptr_t)guard->site.resume;
    return ExceptionContinueExecution;
}

static bool ArmGuard(PortGuard *guard)
{
    guard->handler = (void *)GuardHandler;
    guard->denied = false;
    ClearSite(&guard->site);
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(guard->next));
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(guard) : "memory");
    return true;
}

static void DisarmGuard(PortGuard *guard)
{
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(guard->next) : "memory");
}

#elif defined(__x86_64__)

// A vectored handler, which every 64-bit Windows has, registered for the one instruction.
struct PortGuard {
    PortSite site;
    volatile bool denied;
    void *registration;
};

static PortGuard *volatile ArmedGuard;

static LONG CALLBACK GuardHandler(EXCEPTION_POINTERS *pointers)
{
    PortGuard *guard = ArmedGuard;
    if (guard == nullptr || !IsDenial(pointers->ExceptionRecord, &guard->site))
        return EXCEPTION_CONTINUE_SEARCH;
    guard->denied = true;
    pointers->ContextRecord->Rip = (DWORD64)(uintptr_t)guard->site.resume;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Without a handler the instruction is not tried: it would be the end of the process.
static bool ArmGuard(PortGuard *guard)
{
    guard->denied = false;
    ClearSite(&guard->site);
    ArmedGuard = guard;
    guard->registration = AddVectoredExceptionHandler(1, GuardHandler);
    if (guard->registration == nullptr) {
        ArmedGuard = nullptr;
        return false;
    }
    return true;
}

static void DisarmGuard(PortGuard *guard)
{
    RemoveVectoredExceptionHandler(guard->registration);
    ArmedGuard = nullptr;
}

#else
#error "port instructions exist only on x86"
#endif

bool PlatformPortWrite32(uint16_t port, uint32_t value)
{
    PortGuard guard;
    if (!ArmGuard(&guard))
        return false;
    PortOut32(port, value, &guard.site);
    DisarmGuard(&guard);
    return !guard.denied;
}

bool PlatformPortRead32(uint16_t port, uint32_t *value)
{
    PortGuard guard;
    if (!ArmGuard(&guard))
        return false;
    uint32_t read = PortIn32(port, &guard.site);
    DisarmGuard(&guard);
    if (guard.denied)
        return false;
    *value = read;
    return true;
}
