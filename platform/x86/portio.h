// The x86 port instructions that the program executes itself: the Windows builds guard them,
// the bare-metal test kernel runs them as they are.
#ifndef QORVALIN_PORTIO_H
#define QORVALIN_PORTIO_H

#include <stdint.h>

// Where the latest port instruction sits and where execution goes on behind it, written by the
// instruction's own code just before it runs. A fault handler compares the faulting address
// with it, so it recognises this one instruction and nothing else, and resumes behind it
// whichever encoding (one byte with DX, two with an immediate port) the compiler chose.
struct PortSite {
    const void *instruction;
    const void *resume;
};

#if defined(__x86_64__)
#define PORTIO_RECORD(label, slot)                                                             \
    "leaq " label "(%%rip), %[scratch]\n\tmovq %[scratch], %[" slot "]\n\t"
#elif defined(__i386__)
#define PORTIO_RECORD(label, slot) "movl $" label ", %[" slot "]\n\t"
#else
#error "port instructions exist only on x86"
#endif

static inline void PortOut32(uint16_t port, uint32_t value, PortSite *site)
{
    void *scratch;
    __asm__ __volatile__(PORTIO_RECORD("1f", "at") PORTIO_RECORD("2f", "next")
                         "1:\toutl %[value], %w[port]\n"
                         "2:"
                         : [at] "=m"(site->instruction), [next] "=m"(site->resume),
                           [scratch] "=&r"(scratch)
                         : [value] "a"(value), [port] "Nd"(port)
                         : "memory");
}

static inline uint32_t PortIn32(uint16_t port, PortSite *site)
{
    void *scratch;
    uint32_t value;
    __asm__ __volatile__(PORTIO_RECORD("1f", "at") PORTIO_RECORD("2f", "next")
                         "1:\tinl %w[port], %[value]\n"
                         "2:"
                         : [at] "=m"(site->instruction), [next] "=m"(site->resume),
                           [scratch] "=&r"(scratch), [value] "=a"(value)
                         : [port] "Nd"(port)
                         : "memory");
    return value;
}

#undef PORTIO_RECORD

#endif
