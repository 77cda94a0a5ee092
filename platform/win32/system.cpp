// The platform operations of the Windows product that reach the kernel and the registry:
// version, registry values, device files, text conversion and run-time linking.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <string.h>

bool PlatformGetVersion(VersionRecord *record)
{
    memset(record, 0, sizeof *record);
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info))
        return false;
    record->major = info.dwMajorVersion;
    record->minor = info.dwMinorVersion;
    record->build = info.dwBuildNumber;
    record->platform = info.dwPlatformId;
    memcpy(record->csd, info.szCSDVersion, sizeof record->csd);
    record->csd[sizeof record->csd - 1] = '\0';
    return true;
}

bool PlatformOpenMachineKey(const char *path, RegistryKey *key)
{
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    *key = opened;
    return true;
}

bool PlatformQueryValue(RegistryKey key, const char *name, uint8_t *buffer, uint32_t *size,
                        uint32_t *type)
{
    DWORD kind;
    DWORD room = *size;
    if (RegQueryValueExA((HKEY)key, name, NULL, &kind, buffer, &room) != ERROR_SUCCESS)
        return false;
    *size = room;
    if (type != NULL)
        *type = kind;
    return true;
}

void PlatformCloseKey(RegistryKey key)
{
    RegCloseKey((HKEY)key);
}

DeviceHandle PlatformOpenDevice(const char *path)
{
    HANDLE device = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                                NULL);
    return device == INVALID_HANDLE_VALUE ? NULL : device;
}

bool PlatformDeviceRequest(DeviceHandle device, uint32_t code, void *buffer, uint32_t inSize,
                           uint32_t outSize, uint32_t *returned)
{
    DWORD count = 0;
    if (!DeviceIoControl((HANDLE)device, code, buffer, inSize, buffer, outSize, &count, NULL))
        return false;
    *returned = count;
    return true;
}

void PlatformCloseDevice(DeviceHandle device)
{
    CloseHandle((HANDLE)device);
}

void PlatformWideToAnsi(const uint16_t *text, char *out, uint32_t outSize)
{
    // A conversion that runs out of room leaves the output unterminated.
    WideCharToMultiByte(CP_ACP, 0, (LPCWSTR)text, -1, out, (int)outSize, NULL, NULL);
    out[outSize - 1] = '\0';
}

HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    size_t nameLength = strlen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH)
        return NULL;
    if (path[length - 1] != '\\')
        path[length++] = '\\';
    memcpy(path + length, name, nameLength + 1);
    return LoadLibraryA(path);
}

void LoadLibrariesFromSystemOnly()
{
    typedef BOOL(WINAPI * SetDirectoriesFunction)(DWORD flags);
    SetDirectoriesFunction setDirectories = (SetDirectoriesFunction)(void *)GetProcAddress(
        GetModuleHandleA("KERNEL32.DLL"), "SetDefaultDllDirectories");
    if (setDirectories != NULL)
        setDirectories(SEARCH_SYSTEM_FOLDER_ONLY);
}

LibraryHandle PlatformLoadLibrary(const char *name)
{
    return LoadSystemLibrary(name);
}

void *PlatformGetProcAddress(LibraryHandle library, const char *name)
{
    return (void *)GetProcAddress((HMODULE)library, name);
}

void PlatformFreeLibrary(LibraryHandle library)
{
    FreeLibrary((HMODULE)library);
}
