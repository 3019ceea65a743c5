// The lamp's firmware on an RP2040 board: sixteen lamps on GPIO0-15, set
// by the host's feature reports over USB (usb_lamp_rp2040.cpp). One loop
// runs everything: TinyUSB's task, the power-up sweep and the watchdog,
// sleeping in between until an interrupt or the next step is due.
#include <cstdint>

#include "firmware/lamp_device_rp2040.h"
#include "firmware/lamp_power.h"
#include "firmware/lamp_report.h"
#include "firmware/lamp_serial.h"
#include "firmware/lamp_sweep.h"
#include "hardware/flash.h"
#include "hardware/gpio.h"
#include "hardware/structs/usb.h"
#include "hardware/sync.h"
#include "hardware/watchdog.h"
#include "pico/binary_info.h"
#include "pico/time.h"
#include "tusb.h"

bi_decl(bi_pin_mask_with_name(kLampPinMask, "lamps 0-15 (lamp n on GPIO n)"))

namespace {

// A firmware that hangs is restarted after this long. The loop feeds the
// watchdog at least every kIdleWakeUs, so a busy bus never trips it.
const uint32_t kWatchdogMs = 500;
const uint32_t kIdleWakeUs = 100000;
// The boot ROM's header, which tells whether there is a ROM to ask.
const uintptr_t kBootRomHeader = 0x10;

LampPower lampPower;
uint16_t shownValue;
absolute_time_t poweredUpAt;
absolute_time_t wakeAt;
char serialNumber[kLampSerialDigits + 1];

uint32_t SincePowerUpUs()
{
    const int64_t elapsed = absolute_time_diff_us(poweredUpAt, get_absolute_time());
    return elapsed > static_cast<int64_t>(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(elapsed);
}

// Sets the pins to what the lamps should show now, all sixteen in one
// masked write, and ends the sweep once it has run its course.
void ShowLamps()
{
    uint16_t sweepLamps = 0;
    if (lampPower.sweeping) {
        const SweepStep step = SweepStepAt(SincePowerUpUs());
        if (step.running)
            sweepLamps = step.lamps;
        else
            LampPowerSweepDone(&lampPower);
    }
    const uint16_t shown = LampPowerShown(lampPower, sweepLamps);
    if (shown == shownValue) return;
    gpio_put_masked(kLampPinMask, LampPinLevels(shown));
    shownValue = shown;
}

// The serial number from the flash's unique id, which only the boot ROM's
// flash functions can read: without a ROM (in an emulator) they must not
// be called, and the serial is the fixed fallback.
void ReadSerialNumber()
{
    const volatile uint8_t* rom = reinterpret_cast<const volatile uint8_t*>(kBootRomHeader);
    // GCC takes any address below 4 KB for an offset from a null pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const uint8_t header[4] = {rom[0], rom[1], rom[2], rom[3]};
#pragma GCC diagnostic pop
    if (!LampBootRomPresent(header)) {
        for (unsigned i = 0; i <= kLampSerialDigits; ++i) serialNumber[i] = kLampFallbackSerial[i];
        return;
    }
    uint8_t id[8];
    // The flash leaves execute-in-place meanwhile: nothing may run from it.
    const uint32_t interrupts = save_and_disable_interrupts();
    flash_get_unique_id(id);
    restore_interrupts(interrupts);
    LampSerialFromId(id, serialNumber);
}

void StartLamps()
{
    gpio_init_mask(kLampPinMask);
    gpio_put_masked(kLampPinMask, 0);
    gpio_set_dir_out_masked(kLampPinMask);
    lampPower = LampPowerUp();
    shownValue = 0;
    poweredUpAt = get_absolute_time();
    wakeAt = poweredUpAt;
}

// Sleeps until an interrupt, the sweep's next step or kIdleWakeUs. The
// wake-up time changes only once reached: best_effort_wfe_or_timeout sleeps
// only when asked again for the same time.
void SleepUntilDue()
{
    if (time_reached(wakeAt)) {
        uint64_t next = to_us_since_boot(get_absolute_time()) + kIdleWakeUs;
        if (lampPower.sweeping) {
            const uint64_t step = to_us_since_boot(poweredUpAt) + SweepStepAt(SincePowerUpUs()).nextUs;
            if (step < next) next = step;
        }
        wakeAt = from_us_since_boot(next);
    }
    best_effort_wfe_or_timeout(wakeAt);
}

}  // namespace

void LampOnReport(uint16_t value)
{
    LampPowerReport(&lampPower, value);
    ShowLamps();
}

// On the RP2040 the suspend interrupt comes when the bus's suspend state
// changes either way: only a bus that is suspended now darkens the lamps.
void LampOnSuspend()
{
    if ((usb_hw->sie_status & USB_SIE_STATUS_SUSPENDED_BITS) == 0) return;
    LampPowerSuspend(&lampPower);
    ShowLamps();
}

void LampOnResume()
{
    LampPowerResume(&lampPower);
    ShowLamps();
}

void LampOnBusReset()
{
    LampPowerReset(&lampPower);
    ShowLamps();
}

uint16_t LampShownNow()
{
    return shownValue;
}

const char* LampSerialNumber()
{
    return serialNumber;
}

int main()
{
    StartLamps();
    ReadSerialNumber();
    tusb_init();
    watchdog_enable(kWatchdogMs, true);
    for (;;) {
        tud_task();
        ShowLamps();
        watchdog_update();
        SleepUntilDue();
    }
}
