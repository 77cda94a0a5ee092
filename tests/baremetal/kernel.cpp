// The bare-metal test kernel: the program's own chipset probe and port instructions run on the
// machine it boots on, with a platform layer just big enough for them, and the report goes out
// over the first serial port before the kernel ends the emulator.
#include "platform/platform.h"
#include "platform/sim/catalogue.h"
#include "platform/x86/portio.h"
#include "probes/chipset.h"
#include "report/report.h"

#include <stddef.h>

enum : uint16_t {
    SERIAL_PORT = 0x3F8,
    // QEMU's isa-debug-exit device, placed there by the test's command line.
    DEBUG_EXIT_PORT = 0xF4,
    SERIAL_LINE_STATUS = 5,
    SERIAL_TRANSMIT_EMPTY = 0x20,
    // The emulator exits with status 2 * value + 1: 67 says the kernel reached its end.
    DEBUG_EXIT_DONE = 0x21,
};

static uint32_t PortWrites, PortReads;
static char Panel[PANEL_TEXT_SIZE];
static const char Digits[] = "0123456789abcdef";

// Byte-wide port access is the serial line's and the exit device's, never the probe's.
static inline void OutByte(uint16_t port, uint8_t value)
{
    __asm__ __volatile__("outb %0, %w1" : : "a"(value), "Nd"(port));
}

static inline uint8_t InByte(uint16_t port)
{
    uint8_t value;
    __asm__ __volatile__("inb %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

static void SerialInit()
{
    OutByte(SERIAL_PORT + 1, 0x00);  // no interrupts
    OutByte(SERIAL_PORT + 3, 0x80);  // divisor latch
    OutByte(SERIAL_PORT + 0, 0x01);  // 115200 baud
    OutByte(SERIAL_PORT + 1, 0x00);
    OutByte(SERIAL_PORT + 3, 0x03);  // 8 bits, no parity, one stop bit
}

static void SerialPut(char c)
{
    while (!(InByte(SERIAL_PORT + SERIAL_LINE_STATUS) & SERIAL_TRANSMIT_EMPTY)) {
    }
    OutByte(SERIAL_PORT, (uint8_t)c);
}

static void SerialWrite(const char *text)
{
    while (*text)
        SerialPut(*text++);
}

// Each report item stays on one line, escaped as the simulator's report escapes it.
static void SerialWriteEscaped(const char *text)
{
    static const char Named[] = "\r\n\t\\", Letters[] = "rnt\\";
    for (; *text; ++text) {
        unsigned char c = (unsigned char)*text;
        int name = 0;
        while (Named[name] && Named[name] != c)
            ++name;
        if (Named[name]) {
            SerialPut('\\');
            SerialPut(Letters[name]);
        } else if (c < 0x20 || c > 0x7E) {
            SerialWrite("\\x");
            SerialPut(Digits[c >> 4]);
            SerialPut(Digits[c & 15]);
        } else
            SerialPut((char)c);
    }
}

// Writes the number in base 10 or 16 with at least `digits` digits.
static void FormatNumber(char *out, uint32_t value, uint32_t base, int digits)
{
    char reversed[12];
    int count = 0;
    do {
        reversed[count++] = Digits[value % base];
        value /= base;
    } while (value != 0);
    while (count < digits && count < (int)sizeof reversed)
        reversed[count++] = '0';
    while (count > 0)
        *out++ = reversed[--count];
    *out = '\0';
}

// The few C library functions that the kernel's code calls, or the compiler calls for it, with
// no C library underneath.
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

// The platform layer: only what the chipset probe, the version query and the sinks ask for.

bool PlatformGetVersion(VersionRecord *record)
{
    *record = VersionRecord{4, 10, 0x040A08AE, PLATFORM_WIN32_WINDOWS, {}};
    return true;
}

bool PlatformPortWrite32(uint16_t port, uint32_t value)
{
    PortSite site;
    ++PortWrites;
    PortOut32(port, value, &site);
    return true;
}

bool PlatformPortRead32(uint16_t port, uint32_t *value)
{
    PortSite site;
    ++PortReads;
    *value = PortIn32(port, &site);
    return true;
}

uint32_t PlatformLoadMessage(uint32_t number, char *buffer, uint32_t capacity)
{
    return capacity == 0 ? 0 : CopyCatalogueText(number, buffer, capacity);
}

// The conversions the catalogue's formats use: %s, %d and %x with a width or precision.
void PlatformFormat(char *out, uint32_t capacity, const char *format, va_list args)
{
    uint32_t used = 0;
    auto put = [&](char c) {
        if (used + 1 < capacity)
            out[used++] = c;
    };
    while (*format) {
        if (*format != '%') {
            put(*format++);
            continue;
        }
        int digits = 0;
        while ((*++format >= '0' && *format <= '9') || *format == '.')
            digits = *format == '.' ? 0 : digits * 10 + (*format - '0');
        char number[12] = {*format};  // an unknown conversion stands for its own letter
        const char *text = number;
        if (*format == 's') {
            text = va_arg(args, const char *);
        } else if (*format == 'd') {
            int32_t value = va_arg(args, int32_t);
            if (value < 0)
                put('-');
            FormatNumber(number, value < 0 ? 0u - (uint32_t)value : (uint32_t)value, 10, digits);
        } else if (*format == 'x') {
            FormatNumber(number, va_arg(args, uint32_t), 16, digits);
        }
        if (*format)
            ++format;
        while (*text)
            put(*text++);
    }
    out[used] = '\0';
}

void PlatformSetControlText(Window, int control, const char *text)
{
    if (control != IDC_MORE_INFO)
        return;
    size_t length = 0;
    for (; text[length] != '\0' && length < sizeof Panel - 1; ++length)
        Panel[length] = text[length];
    Panel[length] = '\0';
}

void PlatformAddListItem(Window, int control, const char *text)
{
    if (control != IDC_DETAILS_LIST)
        return;
    SerialWrite("detail: ");
    SerialWriteEscaped(text);
    SerialWrite("\n");
}

static const char *RatingName(SupportFlags rating)
{
    static const struct { SupportFlags rating; const char *name; } Names[] = {
        {SUPPORT_YES, "SUPPORT_YES"}, {SUPPORT_MAYBE, "SUPPORT_MAYBE"},
        {SUPPORT_NO, "SUPPORT_NO"}, {SUPPORT_UNKNOWN, "SUPPORT_UNKNOWN"}};
    for (const auto &name : Names)
        if (name.rating == rating)
            return name.name;
    return "several bits";
}

extern "C" void KernelMain()
{
    SerialInit();
    SerialWrite("chipset probe on bare metal\n");
    SupportFlags rating = ProbeChipset(nullptr);
    char writes[12], reads[12];
    FormatNumber(writes, PortWrites, 10, 1);
    FormatNumber(reads, PortReads, 10, 1);
    SerialWrite("panel: ");
    SerialWriteEscaped(Panel);
    SerialWrite("\nrating: ");
    SerialWrite(RatingName(rating));
    SerialWrite("\nports: writes=");
    SerialWrite(writes);
    SerialWrite(" reads=");
    SerialWrite(reads);
    SerialWrite("\nend\n");
    OutByte(DEBUG_EXIT_PORT, DEBUG_EXIT_DONE);
}
