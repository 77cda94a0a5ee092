// The chipset probe: configuration mechanism #1 reads register 0 of every function on bus 0 and
// the known USB-capable chipsets among them rate the hardware.
#include "probes/chipset.h"

#include "probes/os.h"
#include "report/report.h"

enum : uint32_t {
    PCI_ID_PIIX3_BRIDGE = 0x70008086,
    PCI_ID_PIIX3_USB = 0x70208086,
    PCI_ID_PIIX4_USB = 0x71128086,
    PCI_ID_OPTI_USB = 0xC8611045,
    PCI_ID_ALI_USB = 0x523710B9,
};

// USB controllers that need no more than their presence to count.
static const struct {
    uint32_t id;
    uint32_t message;
} UsbControllers[] = {
    {PCI_ID_PIIX4_USB, MSG_PIIX4_USB},
    {PCI_ID_OPTI_USB, MSG_OPTI_USB},
    {PCI_ID_ALI_USB, MSG_ALI_USB},
};

uint32_t FindPciDevice(uint32_t id, bool *portsDenied)
{
    if (*portsDenied)
        return 0;
    uint32_t result = 0;
    // A find ends only this function number's walk over the devices; the later function
    // numbers are still read.
    for (uint32_t function = 0; function < PCI_FUNCTIONS; ++function) {
        for (uint32_t device = 0; device < PCI_DEVICES; ++device) {
            uint32_t value;
            // A match made before the denial was read from the bus all the same.
            if (!ReadPciRegister0(device, function, &value)) {
                *portsDenied = true;
                return result;
            }
            if (value == id) {
                result = id;
                break;
            }
        }
    }
    return result;
}

SupportFlags ProbeChipset(Window window)
{
    if (GetNtMajorVersion() != 0)
        return SUPPORT_UNKNOWN;

    // A denied port (NT in a compatibility mode, or an emulator) denies every later access
    // too: the later searches find nothing, and what was found before stays written and keeps
    // its rating, so that a found controller is not shown above an unknown or red verdict.
    bool denied = false;
    SupportFlags rating = SUPPORT_UNKNOWN;
    if (FindPciDevice(PCI_ID_PIIX3_BRIDGE, &denied)) {
        AddDetail(window, MSG_PIIX3_BRIDGE);
        if (FindPciDevice(PCI_ID_PIIX3_USB, &denied)) {
            AddDetail(window, MSG_PIIX3_USB_ENABLED);
            rating = SUPPORT_YES;
        } else if (!denied) {
            AppendInfo(window, MSG_INFO_PIIX3_USB_DISABLED);
            AddDetail(window, MSG_PIIX3_USB_DISABLED);
            rating = SUPPORT_MAYBE;
        }
        // Denied before its USB function was found, the bridge alone rates nothing; its line
        // stays, closed like every group of the list.
        AddBlankDetail(window);
    }
    for (const auto &controller : UsbControllers) {
        if (FindPciDevice(controller.id, &denied)) {
            AddDetail(window, controller.message);
            AddBlankDetail(window);
            rating = SUPPORT_YES;
        }
    }
    return rating;
}
