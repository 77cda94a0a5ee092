// The operating-system probe: names the Windows release, shows its registry and kernel versions,
// and rates its USB support.
#include "probes/os.h"

#include "report/report.h"

#include <string.h>

enum {
    REGISTRY_TEXT_SIZE = 128,
    // Windows 95 before this build has no USB support at all.
    FIRST_USB_BUILD = 1212,
};

// Reads the release's version text into text (REGISTRY_TEXT_SIZE bytes); true when the value
// was read. The text is terminated and empty when nothing was read.
static bool ReadRegistryVersion(char *text)
{
    uint32_t size = REGISTRY_TEXT_SIZE;
    if (QueryRegistryValue(RegistryVersionValue(), (uint8_t *)text, &size, nullptr) !=
        REGISTRY_READ) {
        // A read that failed may still have left bytes behind.
        text[0] = '\0';
        return false;
    }
    // A value of exactly 128 bytes brings no terminator of its own: it is shown as its first
    // 127 bytes, and it still counts as read.
    text[REGISTRY_TEXT_SIZE - 1] = '\0';
    return true;
}

// Windows 95 at version 4.0 or below: only the later builds with a known registry text have USB.
static SupportFlags ClassifyWindows95(Window window, const VersionRecord &version,
                                      const char *registryText, bool registryRead)
{
    uint32_t buildWord = version.build & 0xFFFF;
    if (version.major != 4 || buildWord < FIRST_USB_BUILD || !registryRead) {
        AppendInfo(window, MSG_INFO_OS_NOT_SUPPORTED);
        return SUPPORT_NO;
    }
    if (strcmp(registryText, "4.03.1212") == 0) {
        AppendInfo(window, MSG_INFO_OS_95_UNSUPPORTED);
        return SUPPORT_NO;
    }
    if (strcmp(registryText, "4.03.1214") == 0) {
        AppendInfo(window, MSG_INFO_OS_UPGRADE);
        return SUPPORT_MAYBE;
    }
    return SUPPORT_UNKNOWN;
}

static SupportFlags Classify(Window window, const VersionRecord &version,
                             const char *registryText, bool registryRead)
{
    switch (version.platform) {
    case PLATFORM_WIN32S:
        AddDetail(window, MSG_OS_95S);
        AppendInfo(window, MSG_INFO_OS_NOT_SUPPORTED);
        return SUPPORT_NO;
    case PLATFORM_WIN32_WINDOWS:
        if (version.major > 4 || (version.major == 4 && version.minor != 0)) {
            AppendInfo(window, MSG_INFO_OS_SUPPORTED);
            AddDetail(window, MSG_OS_98);
            return SUPPORT_YES;
        }
        AddDetail(window, MSG_OS_95);
        return ClassifyWindows95(window, version, registryText, registryRead);
    case PLATFORM_WIN32_NT:
        if (version.major >= 5) {
            AppendInfo(window, MSG_INFO_OS_SUPPORTED);
            AddDetail(window, MSG_OS_2000);
            return SUPPORT_YES;
        }
        AppendInfo(window, MSG_INFO_OS_NOT_SUPPORTED);
        AddDetail(window, MSG_OS_NT);
        return SUPPORT_NO;
    default:
        AppendInfo(window, MSG_INFO_OS_UNKNOWN);
        AddDetail(window, MSG_OS_UNKNOWN);
        return SUPPORT_UNKNOWN;
    }
}

SupportFlags CheckOperatingSystem(Window window)
{
    VersionRecord version;
    if (!PlatformGetVersion(&version)) {
        AppendInfo(window, MSG_INFO_OS_UNKNOWN);
        AddDetail(window, MSG_OS_UNKNOWN);
        AddBlankDetail(window);
        return SUPPORT_UNKNOWN;
    }
    char registryText[REGISTRY_TEXT_SIZE];
    bool registryRead = ReadRegistryVersion(registryText);
    SupportFlags rating = Classify(window, version, registryText, registryRead);
    AddDetail(window, MSG_REGISTRY_VERSION, registryText);
    AddDetail(window, MSG_KERNEL_VERSION, (int32_t)version.major, (int32_t)version.minor,
              (int32_t)(version.build & 0xFFFF), version.csd);
    AddBlankDetail(window);
    return rating;
}
