// The VM tests' lamps of the project's own firmware: each its UF2 in an
// emulated RP2040 on this machine, served over USB/IP through the link to
// the guest (vm_link.mjs), where usbip attaches them to its vhci-hcd. The
// guest's log of lamp NAME (NAME.log) gets a line "pins XXXX" each time
// the lamp's GPIO0-15 change, and "imported" and "released" as its client
// comes and goes. Runs until the guest powers off, then says for each lamp
// how many SET_REPORTs it took and the emulator's wall time for them.
//   node tests/vm/emulated_lamps.mjs FIRMWARE.uf2 SOCKET NAME=BUSID=FLASHID...
// FLASHID: the flash chip's unique id, 16 hex digits (the lamp's serial).
// TOLVAREN_USBIP_TRACE=1 logs every URB and its answer too.
import { UsbipLamp } from '../../firmware/emulator/usbip_lamp.mjs';
import { UsbipServer } from '../../firmware/emulator/usbip_server.mjs';
import { VmLink } from './vm_link.mjs';

// How often the emulated chips catch up with the wall clock.
const KEEP_UP_MS = 5;

const [uf2Path, socketPath, ...lampArguments] = process.argv.slice(2);
const started = Date.now();
const say = (line) => console.log(`emulated lamps, ${((Date.now() - started) / 1000).toFixed(3)} s: ${line}`);
if (!socketPath || lampArguments.length === 0 || lampArguments.some((lamp) => !/^\w+=\d+-\d+=[0-9A-F]{16}$/.test(lamp))) {
  console.error('usage: node tests/vm/emulated_lamps.mjs FIRMWARE.uf2 SOCKET NAME=BUSID=FLASHID...');
  process.exit(2);
}

let link = null;
const lamps = lampArguments.map((argument, i) => {
  const [name, busid, id] = argument.split('=');
  return new UsbipLamp({
    uf2Path, name, busid, devnum: 2 + i, flashId: Uint8Array.from(Buffer.from(id, 'hex')),
    onPins: (value) => link?.event(name, `pins ${value.toString(16).toUpperCase().padStart(4, '0')}`),
  });
});
for (const lamp of lamps) lamp.plugIn();
// TOLVAREN_USBIP_TRACE=1 logs every URB.
const server = new UsbipServer(lamps, {
  log: say, onClient: (lamp, what) => link?.event(lamp.name, what), trace: process.env.TOLVAREN_USBIP_TRACE ? say : null,
});
const keepingUp = setInterval(() => lamps.forEach((lamp) => lamp.keepUp()), KEEP_UP_MS);

const percentile = (sorted, share) => sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
link = new VmLink(socketPath, server, () => {
  clearInterval(keepingUp);
  for (const lamp of lamps) {
    const wall = lamp.setReports.map((r) => r.wallMs).sort((a, b) => a - b);
    const emulated = lamp.setReports.map((r) => r.emulatedUs).sort((a, b) => a - b);
    say(wall.length === 0 ? `${lamp.name}: no SET_REPORT` :
      `${lamp.name}: ${wall.length} SET_REPORTs; the emulator's wall time for one p50 ${percentile(wall, 0.5).toFixed(2)} ms, ` +
      `p99 ${percentile(wall, 0.99).toFixed(2)} ms; emulated p50 ${percentile(emulated, 0.5).toFixed(0)} µs`);
  }
  process.exit(0);
});
link.listening.then(() => say(`${lamps.map((lamp) => `${lamp.name} (${lamp.busid})`).join(', ')} plugged in; ` +
  `waiting for the guest on ${socketPath}`), (error) => {
  console.error(`emulated lamps: can't listen on ${socketPath}: ${error.message}`);
  process.exit(1);
});
