// The lamp's RP2040 in rp2040js: the image from the UF2 a user flashes,
// started as the boot ROM would start it after boot2, and run in emulated
// time, with the lamp pins and the bus events a host can see.
import { readFileSync } from 'node:fs';
import { ConsoleLogger, LogLevel, RP2040 } from 'rp2040js';
import { installBootRomAndFlashId } from './boot_rom.mjs';

const FLASH_START = 0x10000000;
const UF2_MAGIC = [0x0a324655, 0x9e5d5157];
const UF2_MAGIC_END = 0x0ab16f30;
const UF2_FLAG_FAMILY = 0x2000;
const RP2040_FAMILY = 0xe48bff56;
// boot2 takes the first 256 bytes; the program's vector table follows.
const VECTOR_TABLE = FLASH_START + 0x100;
const CYCLE_NANOS = 8; // 125 MHz
const LAMP_PINS = 16;

// The USB controller's registers and bits that rp2040js leaves to the host.
const SIE_STATUS = 0x50;
const SIE_SUSPENDED = 1 << 4;
const SIE_RESUME = 1 << 11;
const INTR_DEV_SUSPEND = 1 << 14;
const INTR_HOST_SOF = 1 << 2;
const INTF = 0x94;
const WATCHDOG_CTRL = 0x40058000;

// The blocks of a UF2 file, checked as a board's bootloader checks them.
export function readUf2(bytes) {
  if (bytes.length === 0 || bytes.length % 512 !== 0) throw new Error(`a UF2 file is 512-byte blocks; this one has ${bytes.length} bytes`);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const blocks = [];
  for (let offset = 0; offset < bytes.length; offset += 512) {
    const word = (at) => view.getUint32(offset + at, true);
    const number = offset / 512;
    if (word(0) !== UF2_MAGIC[0] || word(4) !== UF2_MAGIC[1] || word(508) !== UF2_MAGIC_END)
      throw new Error(`UF2 block ${number}: wrong magic`);
    if (!(word(8) & UF2_FLAG_FAMILY) || word(28) !== RP2040_FAMILY) throw new Error(`UF2 block ${number}: not for the RP2040`);
    if (word(16) !== 256 || word(20) !== number || word(24) !== bytes.length / 512)
      throw new Error(`UF2 block ${number}: wrong size, number or count`);
    blocks.push({ address: word(12), data: bytes.subarray(offset + 32, offset + 32 + 256) });
  }
  return blocks;
}

export class LampChip {
  // With flashId (8 bytes), the chip has a stand-in of its boot ROM and a
  // flash chip of that unique id (boot_rom.mjs); without, no ROM at all, as
  // rp2040js comes.
  constructor(uf2Path, { flashId = null } = {}) {
    this.mcu = new RP2040();
    this.mcu.logger = new ConsoleLogger(LogLevel.Error);
    for (const { address, data } of readUf2(readFileSync(uf2Path))) this.mcu.flash.set(data, address - FLASH_START);
    if (flashId) installBootRomAndFlashId(this.mcu, flashId);
    this.breakpoint = null;
    this.mcu.onBreak = (code) => { this.breakpoint = code; };
    this.watchdogFiredAt = null;
    this.mcu.peripherals[0x40058].onWatchdogTrigger = () => this.watchdogReset();
    this.pinChanges = [];
    this.modelSuspendInterrupt();
    for (let pin = 0; pin < LAMP_PINS; pin++)
      this.mcu.gpio[pin].addListener(() => this.pinChanges.push({ at: this.micros, lamps: this.lamps }));
  }

  // As the boot ROM does once boot2 has set up the flash: the vector table
  // at 0x10000100, its stack pointer and reset handler.
  powerUp() {
    this.mcu.core.VTOR = VECTOR_TABLE;
    this.mcu.core.reset();
  }

  get micros() { return this.mcu.clock.nanos / 1000; }

  // The lamp value GPIO0-15 show: bit n is GPIO n driven high.
  get lamps() {
    let value = 0;
    for (let pin = 0; pin < LAMP_PINS; pin++) if (this.mcu.gpio[pin].outputValue) value |= 1 << pin;
    return value;
  }

  // Runs the chip until done() holds or micros more have passed; true if
  // done() held. A core stopped at a breakpoint (a hang) or by a watchdog
  // reset lets time pass only.
  runUntil(done, micros) {
    const { mcu } = this;
    const end = mcu.clock.nanos + micros * 1000;
    while (!done()) {
      if (mcu.clock.nanos >= end) return false;
      if (this.breakpoint !== null || this.watchdogFiredAt !== null || mcu.core.waiting) {
        const step = Math.min(mcu.clock.nanosToNextAlarm || end - mcu.clock.nanos, end - mcu.clock.nanos);
        mcu.clock.tick(Math.max(step, 1));
      } else {
        mcu.clock.tick(mcu.core.executeInstruction() * CYCLE_NANOS);
      }
    }
    return true;
  }

  runFor(micros) { this.runUntil(() => false, micros); }

  // The RP2040 raises its suspend interrupt when the bus's suspend state
  // changes, and clears it when the firmware writes SIE_STATUS.SUSPENDED;
  // the state bit itself is read-only. rp2040js derives the interrupt from
  // the state bit instead, which would keep it raised all through a
  // suspend: model the chip's latch here.
  modelSuspendInterrupt() {
    const usb = this.mcu.usbCtrl;
    this.suspendChanged = false;
    const write = usb.writeUint32.bind(usb);
    usb.writeUint32 = (offset, value) => {
      if (offset === SIE_STATUS && usb.rawWriteValue & SIE_SUSPENDED) this.suspendChanged = false;
      write(offset, value);
    };
    const updated = usb.sieStatusUpdated.bind(usb);
    usb.sieStatusUpdated = () => {
      updated();
      if (this.suspendChanged) usb.intRaw |= INTR_DEV_SUSPEND;
      else usb.intRaw &= ~INTR_DEV_SUSPEND;
      usb.checkInterrupts();
    };
  }

  // The host stops sending frames: the bus is suspended.
  suspendBus() {
    const usb = this.mcu.usbCtrl;
    usb.sieStatus |= SIE_SUSPENDED;
    this.suspendChanged = true;
    usb.sieStatusUpdated();
  }

  // The host resumes the bus: the suspend state changes again, and the
  // controller reports the resume.
  resumeBus() {
    const usb = this.mcu.usbCtrl;
    usb.sieStatus = (usb.sieStatus & ~SIE_SUSPENDED) | SIE_RESUME;
    this.suspendChanged = true;
    usb.sieStatusUpdated();
  }

  // An interrupt the USB driver has no handler for, as a faulty controller
  // or a stray write could raise: the driver panics, and the core hangs.
  raiseUnhandledUsbInterrupt() {
    this.mcu.usbCtrl.writeUint32(INTF, INTR_HOST_SOF);
  }

  // The watchdog resets the chip: rp2040js leaves that to its user. The
  // reset stops the watchdog (else rp2040js fires it again and again at the
  // same instant) and the core; the boot that would follow is not played.
  watchdogReset() {
    this.watchdogFiredAt = this.micros;
    this.mcu.writeUint32(WATCHDOG_CTRL, 0);
  }

  // The watchdog's CTRL register: whether it runs, and its count (in
  // half-microseconds on the RP2040, which counts each tick twice).
  get watchdog() {
    const ctrl = this.mcu.readUint32(WATCHDOG_CTRL) >>> 0;
    return { enabled: (ctrl & (1 << 30)) !== 0, count: ctrl & 0xffffff };
  }
}
