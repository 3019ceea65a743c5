// A USB host for the emulated lamp, on rp2040js's packet-level USB
// controller: bus resets, and control transfers in their three stages, as a
// real host (Linux's, Windows') runs them. A device's STALL handshake is
// what the controller would send for the host's next token: the endpoint's
// buffer armed to stall.

const EP0_IN_BUFFER_CONTROL = 0x80;
const EP0_OUT_BUFFER_CONTROL = 0x84;
const BUFFER_STALL = 1 << 11;
const EP0_PACKET = 64;
// How long a stage may take before the host gives up, in emulated µs.
const STAGE_TIMEOUT_US = 20000;
const FRAME_US = 1000;

export const setupPacket = (requestType, request, value, index, length) =>
  new Uint8Array([requestType, request, value & 0xff, value >> 8, index & 0xff, index >> 8, length & 0xff, length >> 8]);

// GET_DESCRIPTOR of a type and index, to the device or (recipient 0x81) an interface.
export const getDescriptor = (type, index, length, languageOrInterface = 0, recipient = 0x80) =>
  setupPacket(recipient, 6, (type << 8) | index, languageOrInterface, length);

export class UsbHost {
  constructor(chip) {
    this.chip = chip;
    this.usb = chip.mcu.usbCtrl;
    this.enabled = false;
    this.resets = 0;
    this.inPackets = [];  // what the device sent on EP0 IN, with when
    this.outArmed = 0;    // OUT buffers the device has armed on EP0
    this.usb.onUSBEnabled = () => { this.enabled = true; };
    this.usb.onResetReceived = () => { this.resets++; };
    // What the device sends on another IN endpoint (an input report) goes
    // to onInterruptIn(endpoint, data), when set.
    this.onInterruptIn = null;
    this.usb.onEndpointWrite = (endpoint, data) => {
      if (endpoint === 0) this.inPackets.push({ data, at: chip.micros });
      else this.onInterruptIn?.(endpoint, data);
    };
    this.usb.onEndpointRead = (endpoint) => { if (endpoint === 0) this.outArmed++; };
  }

  // Waits for the device to connect, then resets the bus (about 10 ms).
  resetBus() {
    if (!this.chip.runUntil(() => this.enabled, 500000)) throw new Error('the device never enabled its USB controller');
    const before = this.resets;
    this.usb.resetDevice();
    if (!this.chip.runUntil(() => this.resets > before, 50000)) throw new Error('the device never took the bus reset');
  }

  stalled(bufferControl, stallArmBit) {
    const view = this.chip.mcu.usbDPRAMView;
    return (view.getUint32(bufferControl, true) & BUFFER_STALL) !== 0 && (this.usb.epStallArm & stallArmBit) !== 0;
  }

  inStalled() { return this.stalled(EP0_IN_BUFFER_CONTROL, 1); }
  outStalled() { return this.stalled(EP0_OUT_BUFFER_CONTROL, 2); }

  // Waits for the device to take the host's next token: true when it
  // will, false when it stalls it; throws when it does neither in time.
  waitFor(ready, stalled, what) {
    if (!this.chip.runUntil(() => ready() || stalled(), STAGE_TIMEOUT_US))
      throw new Error(`the device neither answered nor stalled the ${what} in ${STAGE_TIMEOUT_US} µs`);
    return ready();
  }

  // A SETUP packet. The controller clears its EP0 stall on a SETUP.
  setup(packet) {
    this.inPackets = [];
    this.outArmed = 0;
    this.usb.epStallArm &= ~3;
    this.usb.sendSetupPacket(packet);
  }

  // A control transfer to the device. Gives { stalled: false, data } or
  // { stalled: 'data' | 'status' }, with statusAt, when the device's status
  // stage reached the host (device-to-host transfers), and dataAt, when the
  // host's data reached the device.
  control(packet, data = new Uint8Array(0)) {
    this.setup(packet);
    const length = packet[6] | (packet[7] << 8);
    const result = packet[0] & 0x80 ? this.controlIn(length) : this.controlOut(length, data);
    // A host takes a stalled transfer up again no sooner than the next
    // frame, by when the device has stalled all it meant to.
    if (result.stalled) this.chip.runFor(FRAME_US);
    return result;
  }

  controlIn(length) {
    const received = [];
    for (;;) {
      if (!this.waitFor(() => this.inPackets.length > 0, () => this.inStalled(), 'data stage')) return { stalled: 'data' };
      const { data } = this.inPackets.shift();
      received.push(...data);
      if (received.length >= length || data.length < EP0_PACKET) break;
    }
    if (!this.waitFor(() => this.outArmed > 0, () => this.outStalled(), 'status stage')) return { stalled: 'status' };
    this.outArmed--;
    this.usb.endpointReadDone(0, new Uint8Array(0));
    // The stage ends when the controller takes the packet, before the next SETUP.
    this.chip.runFor(this.usb.readDelayMicroseconds + 1);
    return { stalled: false, data: new Uint8Array(received) };
  }

  controlOut(length, data) {
    let dataAt = null;
    for (let sent = 0; sent < length; sent += EP0_PACKET) {
      if (!this.waitFor(() => this.outArmed > 0, () => this.outStalled(), 'data stage')) return { stalled: 'data' };
      this.outArmed--;
      this.usb.endpointReadDone(0, data.subarray(sent, Math.min(length, sent + EP0_PACKET)));
      dataAt = this.chip.micros + this.usb.readDelayMicroseconds;
    }
    if (!this.waitFor(() => this.inPackets.length > 0, () => this.inStalled(), 'status stage')) return { stalled: 'status' };
    const status = this.inPackets.shift();
    if (status.data.length !== 0) throw new Error(`the status stage carried ${status.data.length} bytes`);
    return { stalled: false, dataAt, statusAt: status.at };
  }

  // The same, for a transfer that must go through.
  transfer(packet, data, what) {
    let result;
    try {
      result = this.control(packet, data);
    } catch (error) {
      throw new Error(`${what}: ${error.message}`);
    }
    if (result.stalled) throw new Error(`${what}: the device stalled its ${result.stalled} stage`);
    return result;
  }
}
