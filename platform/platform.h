// The boundary between the portable core and the system it runs on: plain operations, one
// implementation linked per binary (platform/win32 for the product, the fake platform/sim for
// the simulator and the tests).
#ifndef QORVALIN_PLATFORM_H
#define QORVALIN_PLATFORM_H

#include <stdarg.h>
#include <stdint.h>

// Functions that the system hands out by address (the configuration manager's) use its own
// calling convention; only 32-bit Windows has a second one.
#if defined(_WIN32) && defined(__i386__)
#define PLATFORM_API __attribute__((stdcall))
#else
#define PLATFORM_API
#endif

typedef void *Window;         // the main dialog
typedef void *RegistryKey;
typedef void *DeviceHandle;
typedef void *LibraryHandle;
typedef void *IconHandle;

// The basic version record: what the version query reports.
struct VersionRecord {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t platform;
    char csd[128];            // service-pack text, always terminated
};

enum {
    PLATFORM_WIN32S = 0,
    PLATFORM_WIN32_WINDOWS = 1,
    PLATFORM_WIN32_NT = 2,
};

// Fills the record from a fresh query; false (record zeroed) when the query fails.
bool PlatformGetVersion(VersionRecord *record);

// Read-only access below HKEY_LOCAL_MACHINE, opened for querying values only.
bool PlatformOpenMachineKey(const char *path, RegistryKey *key);
// Reads the value's raw bytes; *size is the room on entry and the bytes read on success, *type
// (when type is not null) the value's registry type. A value larger than the room is not read.
bool PlatformQueryValue(RegistryKey key, const char *name, uint8_t *buffer, uint32_t *size,
                        uint32_t *type);
void PlatformCloseKey(RegistryKey key);

// 32-bit port output and input. False when the system denied the access; nothing was
// transferred then.
bool PlatformPortWrite32(uint16_t port, uint32_t value);
bool PlatformPortRead32(uint16_t port, uint32_t *value);

// A device file opened for writing, shared for writing, existing only; null when it cannot be
// opened.
DeviceHandle PlatformOpenDevice(const char *path);
// One device control request with the same buffer as input and output.
bool PlatformDeviceRequest(DeviceHandle device, uint32_t code, void *buffer, uint32_t inSize,
                           uint32_t outSize, uint32_t *returned);
void PlatformCloseDevice(DeviceHandle device);

// Converts a terminated UTF-16 text to the ANSI code page; the result is terminated within
// outSize bytes (outSize > 0).
void PlatformWideToAnsi(const uint16_t *text, char *out, uint32_t outSize);

// The configuration manager's functions, looked up at run time in this order:
// X(tag, exported name).
#define PLATFORM_CFGMGR_FUNCTIONS(X)                 \
    X(Locate, "CM_Locate_DevNodeA")                  \
    X(Property, "CM_Get_DevNode_Registry_PropertyA") \
    X(Child, "CM_Get_Child")                         \
    X(Sibling, "CM_Get_Sibling")                     \
    X(Parent, "CM_Get_Parent")

// What those functions return, and the properties the program asks for.
enum : uint32_t {
    CR_SUCCESS = 0x00,
    CR_INVALID_POINTER = 0x03,
    CR_INVALID_DEVNODE = 0x05,
    CR_NO_SUCH_DEVNODE = 0x0D,
    CR_FAILURE = 0x13,
    CR_BUFFER_SMALL = 0x1A,
    CR_NO_SUCH_VALUE = 0x25,
    CM_DRP_DEVICEDESC = 1,
    CM_DRP_HARDWAREID = 2,
    CM_DRP_DRIVER = 10,
};

// Run-time linking of system libraries that older releases lack, by name, from the system
// folder only: a library of the same name beside the program is never the one loaded.
LibraryHandle PlatformLoadLibrary(const char *name);
void *PlatformGetProcAddress(LibraryHandle library, const char *name);
void PlatformFreeLibrary(LibraryHandle library);

// The message catalogue: copies at most capacity - 1 characters and a NUL, returns the number
// of characters copied, 0 when the number has no text.
uint32_t PlatformLoadMessage(uint32_t number, char *buffer, uint32_t capacity);

// Formats with the Windows wsprintf conventions (%s, %d, %4.4x ...); the result is terminated
// within capacity characters.
void PlatformFormat(char *out, uint32_t capacity, const char *format, va_list args);

// The main dialog's controls.
void PlatformSetControlText(Window window, int control, const char *text);
void PlatformAddListItem(Window window, int control, const char *text);
// Tab stops in dialog template units.
void PlatformSetListTabStops(Window window, int control, const int *stops, int count);
// A shared icon of the program's own module at the standard icon size; null when missing.
IconHandle PlatformLoadIcon(const char *name);
void PlatformSetControlIcon(Window window, int control, IconHandle icon);
void PlatformStartTimer(Window window, uint32_t id, uint32_t milliseconds);

#endif
