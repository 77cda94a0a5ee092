/* A stand-in USB host controller driver for tests under Wine: \Device\USBFDO-n with the link
 * \DosDevices\HCDn for each index named in its service key's Parameters, answering the
 * driver-key-name request the way the host controller drivers do.
 *
 * Parameters (under the service key):
 *   HCDn      REG_SZ      the device exists and replies with this driver key name
 *             REG_BINARY  the device exists and replies with exactly these bytes
 *             other type  the device exists and refuses the request
 * Written back by the driver (REG_DWORD, 0 from the start so a test sees that it ran):
 *   Opens     how many times any of its devices was opened
 *   Requests  how many device control requests of any code reached it
 */
#include <ntddk.h>

#define IOCTL_GET_HCD_DRIVERKEY_NAME 0x220424
#define HCD_COUNT 10
#define REPLY_ROOM 1024
/* The longest name whose reply (its length, the name and a terminator) fits the room. */
#define MAX_NAME ((REPLY_ROOM - 4) / sizeof(WCHAR) - 1)

enum ReplyKind { REPLY_NAME, REPLY_RAW, REPLY_REFUSE };

typedef struct HcdDevice {
    enum ReplyKind kind;
    ULONG replySize;
    UCHAR reply[REPLY_ROOM];
    WCHAR linkText[16];
    UNICODE_STRING link;
} HcdDevice;

static WCHAR ParametersPathText[512];
static UNICODE_STRING ParametersPath;
static ULONG Opens, Requests;

/* "HCD" or "USBFDO-" with the index in decimal behind it. */
static void NameWithIndex(WCHAR *out, const WCHAR *prefix, int index)
{
    while (*prefix)
        *out++ = *prefix++;
    *out++ = (WCHAR)(L'0' + index);
    *out = 0;
}

static HANDLE OpenParameters(ACCESS_MASK access)
{
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    InitializeObjectAttributes(&attributes, &ParametersPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    return NT_SUCCESS(ZwOpenKey(&key, access, &attributes)) ? key : NULL;
}

static void WriteCounter(const WCHAR *name, ULONG value)
{
    UNICODE_STRING valueName;
    HANDLE key = OpenParameters(KEY_SET_VALUE);
    if (!key)
        return;
    RtlInitUnicodeString(&valueName, name);
    ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof(value));
    ZwClose(key);
}

/* Reads HCDn into the device's reply; FALSE when the value is absent (no such device). */
static BOOLEAN ReadConfiguration(HANDLE key, int index, HcdDevice *hcd)
{
    static UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + REPLY_ROOM];
    KEY_VALUE_PARTIAL_INFORMATION *info = (KEY_VALUE_PARTIAL_INFORMATION *)buffer;
    WCHAR nameText[8];
    UNICODE_STRING name;
    ULONG got;

    NameWithIndex(nameText, L"HCD", index);
    RtlInitUnicodeString(&name, nameText);
    if (!NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof(buffer), &got)))
        return FALSE;

    if (info->Type == REG_SZ) {
        /* The stored text may or may not carry its terminator; the reply always does. */
        const WCHAR *text = (const WCHAR *)info->Data;
        ULONG length = 0;
        while (length < info->DataLength / sizeof(WCHAR) && length < MAX_NAME && text[length])
            length++;
        hcd->kind = REPLY_NAME;
        hcd->replySize = 4 + (length + 1) * sizeof(WCHAR);
        RtlCopyMemory(hcd->reply, &hcd->replySize, 4);
        RtlCopyMemory(hcd->reply + 4, text, length * sizeof(WCHAR));
        hcd->reply[4 + length * 2] = hcd->reply[5 + length * 2] = 0;
    } else if (info->Type == REG_BINARY) {
        hcd->kind = REPLY_RAW;
        hcd->replySize = info->DataLength < REPLY_ROOM ? info->DataLength : REPLY_ROOM;
        RtlCopyMemory(hcd->reply, info->Data, hcd->replySize);
    } else
        hcd->kind = REPLY_REFUSE;
    return TRUE;
}

static NTSTATUS Complete(IRP *irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Opening (counted), cleaning up and closing succeed; the rest but device control is refused. */
static NTSTATUS NTAPI DispatchOther(DEVICE_OBJECT *device, IRP *irp)
{
    UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    (void)device;
    if (major == IRP_MJ_CREATE)
        WriteCounter(L"Opens", ++Opens);
    return Complete(irp, major == IRP_MJ_CREATE || major == IRP_MJ_CLEANUP || major == IRP_MJ_CLOSE
                             ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* Like the real drivers, a reply that does not fit is cut to the output buffer, so a caller
 * can learn ActualLength from a short buffer first. */
static NTSTATUS NTAPI DispatchControl(DEVICE_OBJECT *device, IRP *irp)
{
    HcdDevice *hcd = device->DeviceExtension;
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG size = hcd->replySize < room ? hcd->replySize : room;

    WriteCounter(L"Requests", ++Requests);
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_GET_HCD_DRIVERKEY_NAME)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (hcd->kind == REPLY_REFUSE)
        return Complete(irp, STATUS_UNSUCCESSFUL, 0);
    if (hcd->kind == REPLY_NAME && room < 4)
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, hcd->reply, size);
    return Complete(irp, STATUS_SUCCESS, size);
}

static void NTAPI DriverUnload(DRIVER_OBJECT *driver)
{
    while (driver->DeviceObject) {
        DEVICE_OBJECT *device = driver->DeviceObject;
        IoDeleteSymbolicLink(&((HcdDevice *)device->DeviceExtension)->link);
        IoDeleteDevice(device);
    }
}

static NTSTATUS CreateHcd(DRIVER_OBJECT *driver, HANDLE parameters, int index)
{
    static HcdDevice config;
    WCHAR deviceText[24];
    UNICODE_STRING deviceName;
    DEVICE_OBJECT *device;
    HcdDevice *hcd;
    NTSTATUS status;

    if (!ReadConfiguration(parameters, index, &config))
        return STATUS_SUCCESS;
    NameWithIndex(deviceText, L"\\Device\\USBFDO-", index);
    RtlInitUnicodeString(&deviceName, deviceText);
    status = IoCreateDevice(driver, sizeof(HcdDevice), &deviceName, FILE_DEVICE_CONTROLLER, 0, FALSE,
                            &device);
    if (!NT_SUCCESS(status))
        return status;
    hcd = device->DeviceExtension;
    *hcd = config;
    NameWithIndex(hcd->linkText, L"\\DosDevices\\HCD", index);
    RtlInitUnicodeString(&hcd->link, hcd->linkText);
    status = IoCreateSymbolicLink(&hcd->link, &deviceName);
    if (!NT_SUCCESS(status))
        IoDeleteDevice(device);
    return status;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registryPath)
{
    HANDLE parameters;
    NTSTATUS status = STATUS_SUCCESS;
    int i;

    RtlInitEmptyUnicodeString(&ParametersPath, ParametersPathText, sizeof(ParametersPathText));
    RtlCopyUnicodeString(&ParametersPath, registryPath);
    if (!NT_SUCCESS(RtlAppendUnicodeToString(&ParametersPath, L"\\Parameters")))
        return STATUS_NAME_TOO_LONG;

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++)
        driver->MajorFunction[i] = DispatchOther;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = DriverUnload;

    parameters = OpenParameters(KEY_QUERY_VALUE);
    if (!parameters)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    for (i = 0; i < HCD_COUNT && NT_SUCCESS(status); i++)
        status = CreateHcd(driver, parameters, i);
    ZwClose(parameters);
    if (!NT_SUCCESS(status)) {
        DriverUnload(driver);
        return status;
    }
    WriteCounter(L"Opens", 0);
    WriteCounter(L"Requests", 0);
    return STATUS_SUCCESS;
}
