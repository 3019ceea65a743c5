// A stand-in for the RP2040's boot ROM and its board's flash chip, as far
// as the lamp's firmware reaches them to read the flash's unique id, which
// becomes its USB serial number. rp2040js ships no ROM, and the real one
// can't be had here. The stand-in has:
//  - the ROM's header at 0x10 ('M', 'u', 1, version 1), its function table
//    and its table lookup, at the places the SDK reads them from;
//  - the three flash functions flash_do_cmd calls (connect the flash, leave
//    and flush execute-in-place), which need do nothing: the emulator reads
//    the flash directly, whatever the SSI is set to;
//  - the flash's answer to the unique id command (4Bh: 4 dummy bytes, then
//    the 8 bytes of the id) while the firmware holds the flash's chip
//    select low through the QSPI pins' output override.
// The SDK then re-enters execute-in-place by running boot2 from its copy in
// RAM, which rp2040js's SSI lets run as the chip's does.
import { BasePeripheral } from 'rp2040js';

const ROM_HEADER = 0x10;
const ROM_FUNC_TABLE = 0x14;
const ROM_TABLE_LOOKUP = 0x18;
const FUNC_TABLE_AT = 0x40;
const LOOKUP_AT = 0x80;
const NOTHING_AT = 0x96;
const THUMB = 1;

// rom_table_lookup(uint16_t *table, uint32_t code): walks the table's
// (code, address) pairs to its 0 code. Thumb-1, as assembled by hand:
const LOOKUP_CODE = [
  0x8802, // loop: ldrh r2, [r0, #0]   the entry's code
  0x2a00, //       cmp r2, #0
  0xd005, //       beq none
  0x8843, //       ldrh r3, [r0, #2]   its function's address
  0x3004, //       adds r0, #4
  0x428a, //       cmp r2, r1
  0xd1f8, //       bne loop
  0x0018, //       movs r0, r3
  0x4770, //       bx lr
  0x2000, // none: movs r0, #0
  0x4770, //       bx lr
];
const BX_LR = 0x4770;
const romCode = (a, b) => a.charCodeAt(0) | (b.charCodeAt(0) << 8);
const FLASH_FUNCTIONS = [romCode('I', 'F'), romCode('E', 'X'), romCode('F', 'C')];

// The ROM's 4 KB as rp2040js holds it: 32-bit words.
export function bootRomImage() {
  const bytes = new Uint8Array(4096);
  const view = new DataView(bytes.buffer);
  bytes.set([0x4d, 0x75, 1, 1], ROM_HEADER);
  view.setUint16(ROM_FUNC_TABLE, FUNC_TABLE_AT, true);
  view.setUint16(ROM_TABLE_LOOKUP, LOOKUP_AT | THUMB, true);
  FLASH_FUNCTIONS.forEach((code, i) => {
    view.setUint16(FUNC_TABLE_AT + 4 * i, code, true);
    view.setUint16(FUNC_TABLE_AT + 4 * i + 2, NOTHING_AT | THUMB, true);
  });
  LOOKUP_CODE.forEach((instruction, i) => view.setUint16(LOOKUP_AT + 2 * i, instruction, true));
  view.setUint16(NOTHING_AT, BX_LR, true);
  return new Uint32Array(bytes.buffer);
}

const IO_QSPI = 0x40018;
const SS_CTRL = 0x0c;
const OUTOVER_SHIFT = 8;
const OUTOVER_MASK = 3 << OUTOVER_SHIFT;
const OUTOVER_LOW = 2;
const XIP_SSI = 0x18000;
const SSI_SR = 0x28;
const SSI_DR0 = 0x60;
const SR_TFNF = 1 << 1;
const SR_TFE = 1 << 2;
const SR_RFNE = 1 << 3;
const RUID = 0x4b;
const RUID_DUMMY_BYTES = 4;

// The QSPI pins' control registers, kept as written; the chip select's
// output override tells the flash when a command begins and ends.
class QspiPins extends BasePeripheral {
  constructor(rp2040, onSelect) {
    super(rp2040, 'IO_QSPI_BASE');
    this.registers = new Uint32Array(0x40 / 4);
    this.onSelect = onSelect;
  }

  readUint32(offset) { return offset < 0x40 ? this.registers[offset >> 2] : 0; }

  writeUint32(offset, value) {
    if (offset >= 0x40) return;
    this.registers[offset >> 2] = value;
    if (offset === SS_CTRL) this.onSelect(((value & OUTOVER_MASK) >>> OUTOVER_SHIFT) === OUTOVER_LOW);
  }
}

// Puts the stand-in ROM into mcu and makes its flash answer the unique id
// command with uniqueId (8 bytes).
export function installBootRomAndFlashId(mcu, uniqueId) {
  if (uniqueId.length !== 8) throw new Error(`a flash unique id is 8 bytes, not ${uniqueId.length}`);
  mcu.bootrom.set(bootRomImage());
  const flash = { selected: false, sent: 0, command: 0, answers: [] };
  mcu.peripherals[IO_QSPI] = new QspiPins(mcu, (selected) => {
    if (selected && !flash.selected) Object.assign(flash, { sent: 0, command: 0, answers: [] });
    flash.selected = selected;
  });
  // Only while the firmware selects the flash itself; boot2 and execute-in-
  // place go on through rp2040js's own SSI.
  const ssi = mcu.peripherals[XIP_SSI];
  const read = ssi.readUint32.bind(ssi);
  const write = ssi.writeUint32.bind(ssi);
  ssi.readUint32 = (offset) => {
    if (!flash.selected) return read(offset);
    if (offset === SSI_SR) return SR_TFNF | SR_TFE | (flash.answers.length > 0 ? SR_RFNE : 0);
    if (offset === SSI_DR0) return flash.answers.length > 0 ? flash.answers.shift() : 0;
    return read(offset);
  };
  ssi.writeUint32 = (offset, value) => {
    if (!flash.selected || offset !== SSI_DR0) return write(offset, value);
    const at = flash.sent++;
    if (at === 0) flash.command = value & 0xff;
    const idAt = at - 1 - RUID_DUMMY_BYTES;
    flash.answers.push(flash.command === RUID && idAt >= 0 && idAt < 8 ? uniqueId[idAt] : 0);
  };
}
