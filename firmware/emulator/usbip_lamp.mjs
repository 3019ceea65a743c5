// One emulated lamp as a USB/IP server exports it: the firmware's UF2 in
// rp2040js, plugged into the server's own bus and set up there as a
// server's kernel sets up a device it exports (addressed and configured),
// so that a client's vhci-hcd then takes it over. Its emulated time keeps
// up with the wall clock, so that the power-up sweep and the watchdog run
// as on a board, and every transfer a client submits runs at once. What
// GPIO0-15 show is handed to onPins each time it changes.
import { performance } from 'node:perf_hooks';
import { LampChip } from './lamp_chip.mjs';
import { UsbHost, getDescriptor, setupPacket } from './usb_host.mjs';
import { ECONNRESET, EPIPE, EPROTO, USB_SPEED_FULL } from './usbip_protocol.mjs';

// The longest stretch of emulated time one step of keeping up runs, so
// that a client's transfer waits no longer behind it.
const MAX_STEP_US = 20000;
const DEVICE_DESCRIPTOR = 1;
const CONFIGURATION_DESCRIPTOR = 2;
const INTERFACE_DESCRIPTOR = 4;

export class UsbipLamp {
  // name: what the logs call it; busid: its USB/IP bus id (as "1-1");
  // devnum: the address the server gives it; flashId: its flash's unique id.
  constructor({ uf2Path, name, busid, devnum, flashId, onPins = () => {} }) {
    Object.assign(this, { uf2Path, name, busid, devnum, flashId, onPins });
    this.client = null;
    this.pendingIn = [];  // interrupt IN URBs waiting for a report: { seqnum, ep, length, complete }
    this.reportsIn = [];  // input reports no URB was waiting for: { ep, data }
    this.setReports = []; // per SET_REPORT: the emulator's wall ms and emulated µs
    this.shown = null;
    this.saidWatchdog = false;
  }

  // Powers the chip up and sets it up as the server's kernel would.
  plugIn() {
    this.chip = new LampChip(this.uf2Path, { flashId: this.flashId });
    this.chip.powerUp();
    this.host = new UsbHost(this.chip);
    this.host.onInterruptIn = (ep, data) => this.takeReport(ep, data);
    this.wallStart = performance.now();
    this.emulatedStart = this.chip.micros;
    this.host.resetBus();
    this.configure();
    this.reportPins();
  }

  // The server's own enumeration: the descriptors, an address and the
  // first configuration. The devlist and import answers describe it so.
  configure() {
    const { host } = this;
    const device = host.transfer(getDescriptor(DEVICE_DESCRIPTOR, 0, 18), undefined, `${this.name}: device descriptor`).data;
    host.transfer(setupPacket(0x00, 5, this.devnum, 0, 0), undefined, `${this.name}: SET_ADDRESS`);
    const head = host.transfer(getDescriptor(CONFIGURATION_DESCRIPTOR, 0, 9), undefined, `${this.name}: configuration`).data;
    const configuration = host.transfer(getDescriptor(CONFIGURATION_DESCRIPTOR, 0, head[2] | (head[3] << 8)),
      undefined, `${this.name}: configuration`).data;
    host.transfer(setupPacket(0x00, 9, configuration[5], 0, 0), undefined, `${this.name}: SET_CONFIGURATION`);
    const interfaces = [];
    for (let at = 0; at + 1 < configuration.length && configuration[at] > 0; at += configuration[at]) {
      if (configuration[at + 1] === INTERFACE_DESCRIPTOR) {
        const [bInterfaceClass, bInterfaceSubClass, bInterfaceProtocol] = configuration.subarray(at + 5, at + 8);
        interfaces.push({ bInterfaceClass, bInterfaceSubClass, bInterfaceProtocol });
      }
    }
    const word = (at) => device[at] | (device[at + 1] << 8);
    this.device = {
      path: `/sys/devices/platform/tolvaren-emulator/usb1/${this.busid}`,
      busid: this.busid, busnum: 1, devnum: this.devnum, speed: USB_SPEED_FULL,
      idVendor: word(8), idProduct: word(10), bcdDevice: word(12),
      bDeviceClass: device[4], bDeviceSubClass: device[5], bDeviceProtocol: device[6],
      bConfigurationValue: configuration[5], bNumConfigurations: device[17], interfaces,
    };
  }

  // Runs the chip until its emulated time has caught up with the wall
  // clock, a step at a time.
  keepUp() {
    const wall = (performance.now() - this.wallStart) * 1000;
    const behind = wall - (this.chip.micros - this.emulatedStart);
    if (behind > 0) this.chip.runFor(Math.min(behind, MAX_STEP_US));
    this.reportPins();
    if (this.chip.watchdogFiredAt !== null && !this.saidWatchdog) {
      this.saidWatchdog = true;
      console.error(`${this.name}: the watchdog reset the chip at ${Math.round(this.chip.watchdogFiredAt)} µs: the firmware hung`);
    }
  }

  // Each instant's last pin levels, in order, where they changed.
  reportPins() {
    const changes = this.chip.pinChanges;
    changes.forEach(({ at, lamps }, i) => {
      if (i + 1 < changes.length && changes[i + 1].at === at) return;
      if (lamps !== this.shown) this.onPins(lamps, at);
      this.shown = lamps;
    });
    changes.length = 0;
    if (this.shown === null) this.onPins((this.shown = this.chip.lamps), this.chip.micros);
  }

  // A control transfer on endpoint 0: { status, data }.
  control(setup, data) {
    const wall = performance.now();
    const emulated = this.chip.micros;
    let result;
    try {
      result = this.host.control(setup, data);
    } catch (error) {
      console.error(`${this.name}: ${error.message}`);
      result = { stalled: 'no answer' };
    }
    this.reportPins();
    if (setup[0] === 0x21 && setup[1] === 0x09)
      this.setReports.push({ wallMs: performance.now() - wall, emulatedUs: this.chip.micros - emulated });
    if (result.stalled === 'no answer') return { status: EPROTO, data: new Uint8Array(0) };
    if (result.stalled) return { status: EPIPE, data: new Uint8Array(0) };
    return { status: 0, data: result.data ?? new Uint8Array(0) };
  }

  // An interrupt IN URB: answered by the next input report, which this
  // lamp never sends, or given back by unlink.
  submitIn(seqnum, ep, length, complete) {
    const waiting = this.reportsIn.findIndex((report) => report.ep === ep);
    if (waiting >= 0) {
      const [{ data }] = this.reportsIn.splice(waiting, 1);
      complete(0, data.subarray(0, length));
    } else {
      this.pendingIn.push({ seqnum, ep, length, complete });
    }
  }

  takeReport(ep, data) {
    const waiting = this.pendingIn.findIndex((urb) => urb.ep === ep);
    if (waiting < 0) {
      this.reportsIn.push({ ep, data });
      return;
    }
    const [urb] = this.pendingIn.splice(waiting, 1);
    urb.complete(0, data.subarray(0, urb.length));
  }

  // CMD_UNLINK's status: -ECONNRESET when the URB was still waiting, else
  // 0, as it had been answered already.
  unlink(seqnum) {
    const waiting = this.pendingIn.findIndex((urb) => urb.seqnum === seqnum);
    if (waiting < 0) return 0;
    this.pendingIn.splice(waiting, 1);
    return ECONNRESET;
  }

  // The client let it go (detached, or its connection broke): as usbip-host
  // does, the server resets the device, which leaves the lamps dark, and
  // sets it up again for the next import.
  release() {
    this.client = null;
    this.pendingIn = [];
    this.reportsIn = [];
    this.host.resetBus();
    this.configure();
    this.reportPins();
  }
}
