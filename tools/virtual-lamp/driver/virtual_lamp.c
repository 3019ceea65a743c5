/* The virtual lamp: a HID minidriver that hidclass.sys serves as a lamp
 * device, so that programs find and drive it through the system's own
 * setupapi, hid.dll and hidclass. It takes the lamp's 7-byte feature report
 * (report id 1 and six bytes on a vendor page), records each one it gets in
 * a log file, and can be told to take its time over each report or to
 * refuse them. Each lamp is one root device instance; its settings are
 * values in the instance's device key (see lamp_settings.h). Test and tool
 * code: it never ships.
 *
 * Under Wine the driver runs in a winedevice.exe beside the system's own
 * bus drivers, so nothing here may block for long on a thread that serves
 * requests: a slow report is held pending and finished on a thread of the
 * lamp's own. */
#include "virtual_lamp.h"

static Lamp* LampOf(DEVICE_OBJECT* device)
{
    HID_DEVICE_EXTENSION* hid = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    return (Lamp*)hid->MiniDeviceExtension;
}

/* ---- Feature reports ----------------------------------------------------- */

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Answers a feature report and records it. removed: the lamp went away
 * while the report waited. */
static void FinishReport(Lamp* lamp, IRP* irp, BOOLEAN removed, BOOLEAN delayed)
{
    const HID_XFER_PACKET* packet = (const HID_XFER_PACKET*)irp->UserBuffer;
    const LONGLONG arrived = (LONGLONG)(LONG_PTR)irp->Tail.Overlay.DriverContext[kContextArrived];
    const BOOLEAN fail = irp->Tail.Overlay.DriverContext[kContextFail] != NULL;
    const char* verdict;
    NTSTATUS status;
    ULONG_PTR information = 0;

    if (removed) {
        verdict = "removed";
        status = STATUS_DELETE_PENDING;
    } else if (packet->reportId != LAMP_FEATURE_REPORT_ID || packet->reportBufferLen != LAMP_FEATURE_REPORT_LENGTH ||
               packet->reportBuffer[0] != LAMP_FEATURE_REPORT_ID) {
        verdict = "refused";
        status = STATUS_INVALID_PARAMETER;
    } else if (fail) {
        verdict = "refused";
        status = STATUS_UNSUCCESSFUL;
    } else {
        ULONG i;
        for (i = 0; i < LAMP_FEATURE_REPORT_LENGTH; ++i) lamp->last_report[i] = packet->reportBuffer[i];
        verdict = "ok";
        status = STATUS_SUCCESS;
        information = packet->reportBufferLen;
    }
    /* Recorded before it is answered, so that a caller whose report came
     * back finds it in the log. */
    LogReport(lamp, "report", packet, verdict, arrived, delayed ? Now() : 0);
    Complete(irp, status, information);
}

static NTSTATUS SetFeature(Lamp* lamp, IRP* irp)
{
    const HID_XFER_PACKET* packet = (const HID_XFER_PACKET*)irp->UserBuffer;
    const LONGLONG arrived = Now();
    ULONG delay;
    BOOLEAN removed, answer_now;
    KIRQL irql;

    if (packet == NULL || packet->reportBuffer == NULL || packet->reportBufferLen == 0)
        return Complete(irp, STATUS_INVALID_USER_BUFFER, 0);

    delay = ReadNumber(lamp->settings, VLAMP_VALUE_DELAY_MS, 0);
    if (delay > VLAMP_MAX_DELAY_MS) delay = VLAMP_MAX_DELAY_MS;
    irp->Tail.Overlay.DriverContext[kContextArrived] = (PVOID)(LONG_PTR)arrived;
    irp->Tail.Overlay.DriverContext[kContextDelay] = (PVOID)(ULONG_PTR)delay;
    irp->Tail.Overlay.DriverContext[kContextFail] =
        (PVOID)(ULONG_PTR)(ReadNumber(lamp->settings, VLAMP_VALUE_FAIL_REPORTS, 0) != 0);

    KeAcquireSpinLock(&lamp->lock, &irql);
    removed = lamp->removed;
    answer_now = !removed && ((delay == 0 && IsListEmpty(&lamp->reports)) || !lamp->worker_running);
    KeReleaseSpinLock(&lamp->lock, irql);
    if (removed || answer_now) {
        FinishReport(lamp, irp, removed, FALSE);
        return removed ? STATUS_DELETE_PENDING : STATUS_SUCCESS;
    }

    /* Recorded while the packet is surely still ours: once queued, the
     * worker may answer the report at any moment. */
    LogReport(lamp, "pending", packet, NULL, arrived, 0);
    IoMarkIrpPending(irp);
    KeAcquireSpinLock(&lamp->lock, &irql);
    if (lamp->removed) {
        /* The worker may have ended already: nobody else would answer it. */
        KeReleaseSpinLock(&lamp->lock, irql);
        FinishReport(lamp, irp, TRUE, FALSE);
        return STATUS_PENDING;
    }
    InsertTailList(&lamp->reports, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&lamp->lock, irql);
    KeSetEvent(&lamp->wake, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

static IRP* PopReport(Lamp* lamp)
{
    IRP* irp = NULL;
    KIRQL irql;
    KeAcquireSpinLock(&lamp->lock, &irql);
    if (!IsListEmpty(&lamp->reports))
        irp = CONTAINING_RECORD(RemoveHeadList(&lamp->reports), IRP, Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&lamp->lock, irql);
    return irp;
}

static BOOLEAN Stopping(Lamp* lamp)
{
    LARGE_INTEGER now;
    now.QuadPart = 0;
    return KeWaitForSingleObject(&lamp->stop, Executive, KernelMode, FALSE, &now) == STATUS_SUCCESS;
}

/* Answers the queued reports in order, each after its delay. Once the lamp
 * is going, it answers the rest at once as removed and ends. */
static VOID NTAPI Worker(PVOID context)
{
    Lamp* lamp = (Lamp*)context;
    for (;;) {
        IRP* irp = PopReport(lamp);
        if (irp == NULL) {
            if (Stopping(lamp)) break;
            KeWaitForSingleObject(&lamp->wake, Executive, KernelMode, FALSE, NULL);
            continue;
        }
        const ULONG delay = (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[kContextDelay];
        BOOLEAN removed = FALSE;
        if (delay != 0) {
            LARGE_INTEGER timeout;
            timeout.QuadPart = -(LONGLONG)delay * 10000;
            removed = KeWaitForSingleObject(&lamp->stop, Executive, KernelMode, FALSE, &timeout) == STATUS_SUCCESS;
        } else {
            removed = Stopping(lamp);
        }
        FinishReport(lamp, irp, removed, TRUE);
    }
    KeSetEvent(&lamp->worker_done, IO_NO_INCREMENT, FALSE);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---- hidclass's requests ------------------------------------------------- */

static NTSTATUS CopyOut(IRP* irp, const void* data, ULONG size)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (irp->UserBuffer == NULL || stack->Parameters.DeviceIoControl.OutputBufferLength < size)
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->UserBuffer, data, size);
    return Complete(irp, STATUS_SUCCESS, size);
}

static NTSTATUS GetString(Lamp* lamp, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
    const WCHAR* text;
    ULONG length = 0;

    switch (id) {
    case LAMP_STRING_MANUFACTURER_WINE:
    case LAMP_STRING_MANUFACTURER_DDK: text = lamp->manufacturer; break;
    case LAMP_STRING_PRODUCT_WINE:
    case LAMP_STRING_PRODUCT_DDK: text = lamp->product; break;
    case LAMP_STRING_SERIAL_WINE:
    case LAMP_STRING_SERIAL_DDK: text = lamp->serial; break;
    default: return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (text[0] == 0) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    while (text[length] != 0) ++length;
    return CopyOut(irp, text, (length + 1) * sizeof(WCHAR));
}

static NTSTATUS GetFeature(Lamp* lamp, IRP* irp)
{
    HID_XFER_PACKET* packet = (HID_XFER_PACKET*)irp->UserBuffer;
    ULONG i;
    if (packet == NULL || packet->reportBuffer == NULL) return Complete(irp, STATUS_INVALID_USER_BUFFER, 0);
    if (packet->reportId != LAMP_FEATURE_REPORT_ID || packet->reportBufferLen < LAMP_FEATURE_REPORT_LENGTH)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    for (i = 0; i < LAMP_FEATURE_REPORT_LENGTH; ++i) packet->reportBuffer[i] = lamp->last_report[i];
    return Complete(irp, STATUS_SUCCESS, LAMP_FEATURE_REPORT_LENGTH);
}

/* hidclass keeps one read asking while the device is there, and asks again
 * at once when one is answered. The lamp has no input report, so a read is
 * only answered when the lamp goes. Its length may be 0xFFFFFFFF then:
 * nothing is ever written to its buffer. */
static NTSTATUS ReadReport(Lamp* lamp, IRP* irp)
{
    KIRQL irql;
    KeAcquireSpinLock(&lamp->lock, &irql);
    if (lamp->removed) {
        KeReleaseSpinLock(&lamp->lock, irql);
        return Complete(irp, STATUS_DELETE_PENDING, 0);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&lamp->reads, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&lamp->lock, irql);
    return STATUS_PENDING;
}

static NTSTATUS NTAPI InternalIoctl(DEVICE_OBJECT* device, IRP* irp)
{
    Lamp* lamp = LampOf(device);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case LAMP_IOCTL_GET_DEVICE_DESCRIPTOR: {
        HID_DESCRIPTOR descriptor;
        RtlZeroMemory(&descriptor, sizeof descriptor);
        descriptor.bLength = sizeof descriptor;
        descriptor.bDescriptorType = LAMP_HID_DESCRIPTOR_TYPE;
        descriptor.bcdHID = 0x0111;
        descriptor.bNumDescriptors = 1;
        descriptor.DescriptorList[0].bReportType = LAMP_HID_REPORT_DESCRIPTOR_TYPE;
        descriptor.DescriptorList[0].wReportLength = sizeof kLampReportDescriptor;
        return CopyOut(irp, &descriptor, sizeof descriptor);
    }
    case LAMP_IOCTL_GET_REPORT_DESCRIPTOR: return CopyOut(irp, kLampReportDescriptor, sizeof kLampReportDescriptor);
    case LAMP_IOCTL_GET_DEVICE_ATTRIBUTES: {
        HID_DEVICE_ATTRIBUTES attributes;
        RtlZeroMemory(&attributes, sizeof attributes);
        attributes.Size = sizeof attributes;
        attributes.VendorID = lamp->vendor_id;
        attributes.ProductID = lamp->product_id;
        attributes.VersionNumber = lamp->version;
        return CopyOut(irp, &attributes, sizeof attributes);
    }
    case LAMP_IOCTL_GET_STRING: return GetString(lamp, irp);
    case LAMP_IOCTL_READ_REPORT: return ReadReport(lamp, irp);
    case LAMP_IOCTL_SET_FEATURE: return SetFeature(lamp, irp);
    case LAMP_IOCTL_GET_FEATURE: return GetFeature(lamp, irp);
    case LAMP_IOCTL_ACTIVATE_DEVICE:
    case LAMP_IOCTL_DEACTIVATE_DEVICE: return Complete(irp, STATUS_SUCCESS, 0);
    default: return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

/* ---- Plug and play ------------------------------------------------------- */

/* Ends all the lamp's waiting: its reads are answered, its queued reports
 * are answered as removed, its worker ends. Safe to call again. */
static void Shutdown(Lamp* lamp)
{
    LIST_ENTRY reads;
    KIRQL irql;

    InitializeListHead(&reads);
    KeAcquireSpinLock(&lamp->lock, &irql);
    lamp->removed = TRUE;
    while (!IsListEmpty(&lamp->reads)) InsertTailList(&reads, RemoveHeadList(&lamp->reads));
    KeReleaseSpinLock(&lamp->lock, irql);

    while (!IsListEmpty(&reads))
        Complete(CONTAINING_RECORD(RemoveHeadList(&reads), IRP, Tail.Overlay.ListEntry), STATUS_DELETE_PENDING, 0);

    KeSetEvent(&lamp->stop, IO_NO_INCREMENT, FALSE);
    KeSetEvent(&lamp->wake, IO_NO_INCREMENT, FALSE);
    if (lamp->worker_running) {
        KeWaitForSingleObject(&lamp->worker_done, Executive, KernelMode, FALSE, NULL);
        lamp->worker_running = FALSE;
    }
}

static NTSTATUS NTAPI Pnp(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DEVICE_EXTENSION* hid = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    Lamp* lamp = LampOf(device);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        LogEvent(lamp, "start");
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        Shutdown(lamp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        Shutdown(lamp);
        LogEvent(lamp, "removed");
        if (lamp->log != NULL) ZwClose(lamp->log);
        if (lamp->settings != NULL) ZwClose(lamp->settings);
        lamp->log = NULL;
        lamp->settings = NULL;
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(hid->NextDeviceObject, irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* device)
{
    HID_DEVICE_EXTENSION* hid = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    Lamp* lamp = LampOf(device);
    HANDLE thread;
    (void)driver;

    RtlZeroMemory(lamp, sizeof *lamp);
    KeInitializeSpinLock(&lamp->lock);
    InitializeListHead(&lamp->reads);
    InitializeListHead(&lamp->reports);
    KeInitializeEvent(&lamp->wake, SynchronizationEvent, FALSE);
    KeInitializeEvent(&lamp->stop, NotificationEvent, FALSE);
    KeInitializeEvent(&lamp->worker_done, NotificationEvent, FALSE);
    lamp->last_report[0] = LAMP_FEATURE_REPORT_ID;

    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(hid->PhysicalDeviceObject, PLUGPLAY_REGKEY_DEVICE, KEY_READ,
                                            &lamp->settings)))
        lamp->settings = NULL;
    lamp->vendor_id = (USHORT)ReadNumber(lamp->settings, VLAMP_VALUE_VENDOR_ID, LAMP_VENDOR_ID);
    lamp->product_id = (USHORT)ReadNumber(lamp->settings, VLAMP_VALUE_PRODUCT_ID, LAMP_PRODUCT_ID);
    lamp->version = (USHORT)ReadNumber(lamp->settings, VLAMP_VALUE_VERSION, 0x0100);
    ReadText(lamp->settings, VLAMP_VALUE_MANUFACTURER, lamp->manufacturer, LAMP_WIDE(LAMP_MANUFACTURER));
    ReadText(lamp->settings, VLAMP_VALUE_PRODUCT, lamp->product, LAMP_WIDE(LAMP_PRODUCT));
    ReadText(lamp->settings, VLAMP_VALUE_SERIAL, lamp->serial, L"");
    OpenLog(lamp);

    lamp->worker_running = NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, Worker, lamp));
    if (lamp->worker_running) ZwClose(thread);

    LogAdded(lamp);

    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI Unload(DRIVER_OBJECT* driver)
{
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath)
{
    HID_MINIDRIVER_REGISTRATION registration;
    UNICODE_STRING name;

    RtlInitUnicodeString(&name, L"KeQueryPerformanceCounter");
    query_counter = (QueryCounter)MmGetSystemRoutineAddress(&name);

    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    driver->MajorFunction[IRP_MJ_PNP] = Pnp;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalIoctl;

    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = LAMP_HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(Lamp);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
