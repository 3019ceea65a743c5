// The lamp's firmware on an emulated RP2040 (rp2040js), from the UF2 a
// user flashes, with this test as the USB host: enumeration, lamp values,
// refused reports, suspend and reset, the power-up sweep, the watchdog and
// a load of reports. Prints what it measured, in emulated microseconds.
//   node lamp_emulator_test.mjs FIRMWARE.uf2 lamp_identity.h CASE
import { LampChip } from './lamp_chip.mjs';
import { readLampIdentity } from './lamp_identity.mjs';
import { UsbHost, getDescriptor, setupPacket } from './usb_host.mjs';

const [uf2Path, headerPath, caseName] = process.argv.slice(2);
const lamp = readLampIdentity(headerPath);
const FALLBACK_SERIAL = '0000000000000000';
const FLASH_ID = new Uint8Array([0xe6, 0x60, 0x58, 0x38, 0x83, 0x72, 0x4a, 0x2f]);
const ONE_SECOND = 1000000;

function check(condition, message) {
  if (!condition) throw new Error(message);
}

const hex = (value, digits = 4) => `0x${value.toString(16).toUpperCase().padStart(digits, '0')}`;
const bytes = (data) => Array.from(data, (b) => b.toString(16).padStart(2, '0')).join(' ');

// ---- the host's side ---------------------------------------------------

// The program's own request: HidD_SetFeature(h, [01 00 lo hi 00 00 00], 7),
// or hidraw's HIDIOCSFEATURE: SET_REPORT of feature report 1, 7 bytes.
const setReportPacket = (type, id, length) => setupPacket(0x21, 0x09, (type << 8) | id, 0, length);
const lampReport = (value) => new Uint8Array([lamp.reportId, 0, value & 0xff, value >> 8, 0, 0, 0]);

function setLamps(host, value) {
  return host.transfer(setReportPacket(3, lamp.reportId, lamp.reportLength), lampReport(value), `SET_REPORT ${hex(value)}`);
}

function getLamps(host) {
  const { data } = host.transfer(setupPacket(0xa1, 0x01, 0x0300 | lamp.reportId, 0, lamp.reportLength), undefined, 'GET_REPORT');
  check(data.length === lamp.reportLength && data[0] === lamp.reportId,
    `GET_REPORT answered ${bytes(data)}, not a ${lamp.reportLength}-byte report ${lamp.reportId}`);
  return data[2] | (data[3] << 8);
}

function readString(host, index) {
  const { data } = host.transfer(getDescriptor(3, index, 255, 0x0409), undefined, `string ${index}`);
  check(data[0] === data.length && data[1] === 3, `string ${index}: not a string descriptor (${bytes(data)})`);
  return String.fromCharCode(...Array.from({ length: (data.length - 2) / 2 }, (_, i) => data[2 + 2 * i] | (data[3 + 2 * i] << 8)));
}

// Enumeration as Linux and Windows run it: the device descriptor's first
// packet at address 0, a second reset, the address, the descriptors and
// strings, the configuration, then the HID driver's idle rate and report
// descriptor (TinyUSB answers that only once configured).
function enumerate(host) {
  const first = host.transfer(getDescriptor(1, 0, 64), undefined, 'device descriptor at address 0').data;
  host.resetBus();
  host.transfer(setupPacket(0x00, 5, 1, 0, 0), undefined, 'SET_ADDRESS');
  const device = host.transfer(getDescriptor(1, 0, 18), undefined, 'device descriptor').data;
  const head = host.transfer(getDescriptor(2, 0, 9), undefined, 'configuration descriptor').data;
  const configuration = host.transfer(getDescriptor(2, 0, head[2] | (head[3] << 8)), undefined, 'configuration').data;
  const languages = host.transfer(getDescriptor(3, 0, 255), undefined, 'languages').data;
  const strings = { product: readString(host, device[15]), manufacturer: readString(host, device[14]), serial: readString(host, device[16]) };
  host.transfer(setupPacket(0x00, 9, 1, 0, 0), undefined, 'SET_CONFIGURATION');
  host.transfer(setupPacket(0x21, 0x0a, 0, 0, 0), undefined, 'SET_IDLE');
  const hid = configuration.subarray(18, 27);
  const report = host.transfer(getDescriptor(0x22, 0, hid[7] | (hid[8] << 8), 0, 0x81), undefined, 'report descriptor').data;
  return { first, device, configuration, languages, strings, report, at: host.chip.micros };
}

// A lamp just plugged in: powered up, its bus reset by the host. Without
// a flash id, the chip has no boot ROM, as rp2040js comes.
function plugIn(flashId = null) {
  const chip = new LampChip(uf2Path, { flashId });
  chip.powerUp();
  const host = new UsbHost(chip);
  host.resetBus();
  return { chip, host };
}

function plugInAndEnumerate(flashId = null) {
  const lampAndHost = plugIn(flashId);
  return { ...lampAndHost, enumerated: enumerate(lampAndHost.host) };
}

// The pins after a report: all sixteen changed in one write, at one time.
function pinsOfReport(chip, since, value) {
  const changes = chip.pinChanges.slice(since);
  check(chip.lamps === value, `the pins show ${hex(chip.lamps)}, not ${hex(value)}`);
  if (changes.length === 0) return null;
  check(changes.every((c) => c.at === changes[0].at && c.lamps === value),
    `the pins went through ${changes.map((c) => hex(c.lamps)).join(', ')} on their way to ${hex(value)}`);
  return changes[0].at;
}

// ---- the cases -----------------------------------------------------------

function enumeration() {
  const { chip, enumerated: e } = plugInAndEnumerate();
  const d = e.device;
  check(bytes(e.first) === bytes(d), 'the device descriptor differs between its first reading and its second');
  check(d[0] === 18 && d[1] === 1 && (d[2] | (d[3] << 8)) === 0x0200 && d[7] === 64,
    `device descriptor: ${bytes(d)} (want 18 bytes, USB 2.0, 64-byte EP0)`);
  check((d[8] | (d[9] << 8)) === lamp.vendorId && (d[10] | (d[11] << 8)) === lamp.productId,
    `device descriptor ids ${hex(d[8] | (d[9] << 8))}:${hex(d[10] | (d[11] << 8))}`);
  check(d[17] === 1, 'want one configuration');
  // Full speed: the device's pull-up is on D+ (SIE_CTRL.PULLUP_EN; a
  // low-speed device would pull D- and have an 8-byte EP0).
  check(chip.mcu.usbCtrl.sieCtrl & (1 << 16), 'the device never connected its D+ pull-up');
  const c = e.configuration;
  check(c[4] === 1 && c[9 + 5] === 3 && c[9 + 4] === 1, `configuration: ${bytes(c)} (want one HID interface with one endpoint)`);
  const endpoint = c.subarray(27, 34);
  check(endpoint[1] === 5 && endpoint[2] === 0x81 && (endpoint[3] & 3) === 3, `endpoint: ${bytes(endpoint)} (want interrupt IN 1)`);
  check(bytes(e.languages) === '04 03 09 04', `languages: ${bytes(e.languages)}`);
  check(e.strings.manufacturer === lamp.manufacturer && e.strings.manufacturer.length === 22,
    `manufacturer "${e.strings.manufacturer}"`);
  check(e.strings.product === lamp.product, `product "${e.strings.product}"`);
  check(e.strings.serial === FALLBACK_SERIAL, `serial "${e.strings.serial}", want the fallback ${FALLBACK_SERIAL}`);
  // With a stand-in of the boot ROM, through which the firmware reads its
  // flash chip's unique id (and then runs boot2 from RAM to go back to
  // executing from flash), the serial is that id.
  const withRom = plugInAndEnumerate(FLASH_ID).enumerated;
  check(withRom.strings.serial === bytes(FLASH_ID).replace(/ /g, '').toUpperCase(),
    `with a boot ROM, serial "${withRom.strings.serial}", not the flash's id ${bytes(FLASH_ID)}`);
  check(bytes(e.report) === bytes(lamp.reportDescriptor),
    `report descriptor ${bytes(e.report)}, not the lamp's ${bytes(lamp.reportDescriptor)}`);
  check(chip.breakpoint === null, 'the firmware stopped at a breakpoint');
  return `full speed, ${hex(lamp.vendorId)}:${hex(lamp.productId)} "${e.strings.manufacturer}" "${e.strings.product}", ` +
    `serial ${e.strings.serial} without a boot ROM (the fixed fallback) and ${withRom.strings.serial} with the ` +
    'stand-in ROM and flash id, ' +
    `report descriptor of ${e.report.length} bytes as the header's; enumerated ${Math.round(e.at)} µs after power-up`;
}

function lampValues() {
  const { chip, host } = plugInAndEnumerate();
  for (const value of [0x5aa5, 0x00ff, 0xff00, 0, 0xffff, 0x8001]) {
    const since = chip.pinChanges.length;
    setLamps(host, value);
    pinsOfReport(chip, since, value);
    check(getLamps(host) === value, `GET_REPORT after ${hex(value)} gave ${hex(getLamps(host))}`);
  }
  return '0x5AA5, 0x00FF, 0xFF00, 0, 0xFFFF, 0x8001 each shown on GPIO0-15 in one write and read back';
}

function refusedReports() {
  const { chip, host } = plugInAndEnumerate();
  setLamps(host, 0x5aa5);
  const refused = [
    ['report id 2', setReportPacket(3, 2, 7), lampReport(0x1234), 'data'],
    ['a 3-byte report', setReportPacket(3, 1, 3), new Uint8Array([1, 0x34, 0x12]), 'data'],
    ['an 8-byte report', setReportPacket(3, 1, 8), new Uint8Array([...lampReport(0x1234), 0]), 'data'],
    ['an output report', setReportPacket(2, 1, 7), lampReport(0x1234), 'data'],
    ['a feature report 1 whose data says id 2', setReportPacket(3, 1, 7), new Uint8Array([2, 0, 0x34, 0x12, 0, 0, 0]), 'status'],
  ];
  for (const [what, packet, data, stage] of refused) {
    const since = chip.pinChanges.length;
    const result = host.control(packet, data);
    check(result.stalled === stage, `${what}: want its ${stage} stage stalled, got ${JSON.stringify(result.stalled)}`);
    check(chip.pinChanges.length === since && chip.lamps === 0x5aa5, `${what} changed the pins to ${hex(chip.lamps)}`);
    check(getLamps(host) === 0x5aa5, `after ${what} GET_REPORT gave ${hex(getLamps(host))}`);
  }
  const getId2 = host.control(setupPacket(0xa1, 0x01, 0x0302, 0, 7));
  check(getId2.stalled === 'data', 'GET_REPORT of report id 2 was answered');
  setLamps(host, 0x0ff0);
  check(chip.lamps === 0x0ff0, 'a lamp report after the refused ones did not show');
  return 'report id 2, 3 and 8 bytes, an output report stalled at setup; a wrong id byte stalled at status; pins kept';
}

function suspendAndReset() {
  const { chip, host } = plugInAndEnumerate();
  setLamps(host, 0x8001);
  const suspended = chip.micros;
  chip.suspendBus();
  check(chip.runUntil(() => chip.lamps === 0, 5000), `suspended, the lamps still show ${hex(chip.lamps)}`);
  const dark = chip.micros - suspended;
  chip.runFor(20000);
  check(chip.lamps === 0, 'the lamps lit again during the suspend');
  const resumed = chip.micros;
  chip.resumeBus();
  check(chip.runUntil(() => chip.lamps === 0x8001, 5000), `resumed, the lamps show ${hex(chip.lamps)}, not 0x8001`);
  const lit = chip.micros - resumed;
  chip.runFor(20000);
  check(chip.lamps === 0x8001 && getLamps(host) === 0x8001, 'after the resume the lamps did not keep 0x8001');
  host.resetBus();
  check(chip.runUntil(() => chip.lamps === 0, 5000), `after a bus reset the lamps show ${hex(chip.lamps)}`);
  enumerate(host);
  check(chip.lamps === 0 && getLamps(host) === 0, 'after the bus reset and enumeration the lamps are not dark');
  return `suspend: dark ${dark.toFixed(1)} µs after the interrupt; resume: 0x8001 again after ${lit.toFixed(1)} µs; ` +
    'bus reset: dark (the suspend and resume interrupts raised by the test as the chip raises them)';
}

// The sweep's order: the upper row left to right (bits 7..0), then the lower.
const SWEEP = [7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8].map((bit) => 1 << bit);

function sweep() {
  const { chip, host, enumerated } = plugInAndEnumerate();
  chip.runUntil(() => false, ONE_SECOND - chip.micros);
  // Dark from power-up (the pins driven low), then each lamp, then dark.
  const shown = chip.pinChanges.filter((c, i, all) => i === 0 || c.lamps !== all[i - 1].lamps);
  check(shown.map((c) => hex(c.lamps)).join() === [0, ...SWEEP, 0].map((v) => hex(v)).join(),
    `the pins showed ${shown.map((c) => hex(c.lamps)).join(', ')}`);
  const [first, end] = [shown[1].at, shown[shown.length - 1].at];
  check(end < ONE_SECOND, `the sweep ended ${end} µs after power-up`);
  check(enumerated.at < first, 'enumeration waited for the sweep');
  check(chip.lamps === 0, 'the lamps are not dark after the sweep');
  const since = chip.pinChanges.length;
  setLamps(host, 0x00ff);
  pinsOfReport(chip, since, 0x00ff);

  const second = plugInAndEnumerate();
  second.chip.runUntil(() => second.chip.lamps === SWEEP[3], ONE_SECOND);
  const interrupted = second.chip.micros;
  setLamps(second.host, 0x3c3c);
  second.chip.runFor(ONE_SECOND);
  check(second.chip.lamps === 0x3c3c && second.chip.pinChanges.every((c) => c.at <= interrupted + 1000 || c.lamps === 0x3c3c),
    'the sweep went on after a report');
  return `dark at power-up, then each of the 16 lamps lit once, in panel order, from ${Math.round(first)} to ${Math.round(end)} µs ` +
    `after power-up; enumerated meanwhile (${Math.round(enumerated.at)} µs); dark until the first report; ` +
    `a report at ${Math.round(interrupted)} µs ended it`;
}

function watchdog() {
  const { chip } = plugInAndEnumerate();
  const { enabled, count } = chip.watchdog;
  check(enabled, 'the watchdog is not running');
  check(count > 0 && count <= 1000000, `the watchdog's count ${count} is not within 500 ms (1,000,000 half-µs)`);
  chip.runFor(2 * ONE_SECOND);
  check(chip.watchdogFiredAt === null, 'the watchdog fired while the firmware ran');
  const hang = chip.micros;
  chip.raiseUnhandledUsbInterrupt();
  check(chip.runUntil(() => chip.watchdogFiredAt !== null, ONE_SECOND), 'the watchdog never fired for a hung firmware');
  check(chip.breakpoint !== null, 'the firmware did not hang');
  const after = chip.watchdogFiredAt - hang;
  check(after > 300000 && after <= 500000, `the watchdog fired ${after} µs after the hang, want up to 500 ms`);
  return `running, its count at ${(count / 2000).toFixed(1)} ms of 500, fed through 2 s idle; a hang (TinyUSB's ` +
    `panic on an interrupt it has no handler for) reset the chip after ${Math.round(after / 1000)} ms`;
}

function load() {
  const { chip, host } = plugInAndEnumerate();
  const delays = [];
  const began = chip.micros;
  let value = 0;
  for (let i = 1; i <= 1000; i++) {
    value = (i * 0x9e37) & 0xffff || 1;
    const since = chip.pinChanges.length;
    const { dataAt, statusAt } = setLamps(host, value);
    const pinsAt = pinsOfReport(chip, since, value);
    if (pinsAt !== null) delays.push({ fromData: pinsAt - dataAt, toStatus: statusAt - pinsAt });
  }
  check(chip.lamps === value && getLamps(host) === value, `after 1,000 reports the lamps show ${hex(chip.lamps)}`);
  const sorted = (key) => delays.map((d) => d[key]).sort((a, b) => a - b);
  const fromData = sorted('fromData');
  const toStatus = sorted('toStatus');
  const median = (list) => list[Math.floor(list.length / 2)].toFixed(1);
  return `1,000 reports, ending on ${hex(value)}, in ${Math.round((chip.micros - began) / 1000)} ms emulated; pins set ` +
    `${median(fromData)} µs (median; ${fromData[0].toFixed(1)} to ${fromData[fromData.length - 1].toFixed(1)}) after the data ` +
    `packet, ${median(toStatus)} µs (median; ${toStatus[0].toFixed(1)} to ${toStatus[toStatus.length - 1].toFixed(1)}) ` +
    'before the status stage reached the host';
}

const CASES = { enumeration, lamp_values: lampValues, refused_reports: refusedReports, suspend_reset: suspendAndReset, sweep, watchdog, load };

const run = CASES[caseName];
if (!run) {
  console.error(`lamp_emulator_test: no case '${caseName}'; the cases: ${Object.keys(CASES).join(', ')}`);
  process.exit(2);
}
const started = process.hrtime.bigint();
try {
  const said = run();
  const wall = Number(process.hrtime.bigint() - started) / 1e6;
  console.log(`ok ${caseName}: ${said} (${wall.toFixed(0)} ms of wall time)`);
} catch (error) {
  console.error(`FAILED ${caseName}: ${error.message}`);
  process.exit(1);
}
