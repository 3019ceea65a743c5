// The USB/IP protocol as Linux speaks it (Documentation/usb/usbip_protocol.rst
// in its source): the operations a client starts a connection with
// (OP_REQ_DEVLIST, OP_REQ_IMPORT) and, once a device is imported, the URB
// traffic of its vhci-hcd (CMD_SUBMIT, CMD_UNLINK and their answers). Every
// field is big-endian. What a server receives is cut out of the byte stream
// by UsbipReader; what it sends is made by the functions below.

export const USBIP_VERSION = 0x0111;
export const OP_REQ_DEVLIST = 0x8005;
export const OP_REP_DEVLIST = 0x0005;
export const OP_REQ_IMPORT = 0x8003;
export const OP_REP_IMPORT = 0x0003;
export const CMD_SUBMIT = 1;
export const CMD_UNLINK = 2;
export const RET_SUBMIT = 3;
export const RET_UNLINK = 4;
export const DIR_OUT = 0;
export const DIR_IN = 1;
// An operation's status.
export const ST_OK = 0;
export const ST_DEV_BUSY = 2;
export const ST_NODEV = 4;
// A URB's status: Linux's negative errno values.
export const EPIPE = -32;
export const EPROTO = -71;
export const ECONNRESET = -104;
export const USB_SPEED_FULL = 2;

const OP_HEADER_BYTES = 8;
const BUSID_BYTES = 32;
const PATH_BYTES = 256;
const DEVICE_BYTES = PATH_BYTES + BUSID_BYTES + 24;
const URB_HEADER_BYTES = 48;
const ISO_DESCRIPTOR_BYTES = 16;
// More than any control or interrupt transfer of a full-speed device can
// carry: a larger length is a broken stream, not a transfer.
const MAX_TRANSFER_BYTES = 65536;

// The device as OP_REP_DEVLIST and OP_REP_IMPORT describe it: path, busid,
// busnum, devnum, speed, the device descriptor's ids and classes, the
// configuration it is in and its interfaces' classes.
function deviceBytes(device, withInterfaces) {
  const bytes = new Uint8Array(DEVICE_BYTES + (withInterfaces ? 4 * device.interfaces.length : 0));
  const view = new DataView(bytes.buffer);
  bytes.set(new TextEncoder().encode(device.path).subarray(0, PATH_BYTES - 1), 0);
  bytes.set(new TextEncoder().encode(device.busid).subarray(0, BUSID_BYTES - 1), PATH_BYTES);
  let at = PATH_BYTES + BUSID_BYTES;
  for (const word of [device.busnum, device.devnum, device.speed]) { view.setUint32(at, word); at += 4; }
  for (const half of [device.idVendor, device.idProduct, device.bcdDevice]) { view.setUint16(at, half); at += 2; }
  bytes.set([device.bDeviceClass, device.bDeviceSubClass, device.bDeviceProtocol, device.bConfigurationValue,
    device.bNumConfigurations, device.interfaces.length], at);
  if (withInterfaces) {
    device.interfaces.forEach(({ bInterfaceClass, bInterfaceSubClass, bInterfaceProtocol }, i) =>
      bytes.set([bInterfaceClass, bInterfaceSubClass, bInterfaceProtocol, 0], DEVICE_BYTES + 4 * i));
  }
  return bytes;
}

function opHeader(code, status, extra = 0) {
  const bytes = new Uint8Array(OP_HEADER_BYTES + extra);
  const view = new DataView(bytes.buffer);
  view.setUint16(0, USBIP_VERSION);
  view.setUint16(2, code);
  view.setUint32(4, status);
  return bytes;
}

export function devlistReply(devices) {
  const parts = devices.map((device) => deviceBytes(device, true));
  const bytes = opHeader(OP_REP_DEVLIST, ST_OK, 4 + parts.reduce((sum, part) => sum + part.length, 0));
  new DataView(bytes.buffer).setUint32(OP_HEADER_BYTES, devices.length);
  let at = OP_HEADER_BYTES + 4;
  for (const part of parts) { bytes.set(part, at); at += part.length; }
  return bytes;
}

// A refusal carries the header alone.
export function importReply(status, device = null) {
  if (status !== ST_OK) return opHeader(OP_REP_IMPORT, status);
  const bytes = opHeader(OP_REP_IMPORT, ST_OK, DEVICE_BYTES);
  bytes.set(deviceBytes(device, false), OP_HEADER_BYTES);
  return bytes;
}

function urbHeader(command, seqnum, words) {
  const bytes = new Uint8Array(URB_HEADER_BYTES);
  const view = new DataView(bytes.buffer);
  view.setUint32(0, command);
  view.setUint32(4, seqnum);
  // devid, direction and ep stay 0 in an answer.
  words.forEach((word, i) => view.setInt32(20 + 4 * i, word));
  return bytes;
}

// IN data follows the header; an OUT transfer's answer carries none.
export function retSubmit(seqnum, status, actualLength, data = null) {
  const header = urbHeader(RET_SUBMIT, seqnum, [status, actualLength, 0, 0, 0]);
  if (!data || data.length === 0) return header;
  const bytes = new Uint8Array(header.length + data.length);
  bytes.set(header);
  bytes.set(data, header.length);
  return bytes;
}

export function retUnlink(seqnum, status) {
  return urbHeader(RET_UNLINK, seqnum, [status]);
}

export class UsbipError extends Error {}

// A NUL-terminated field's text.
function text(bytes) {
  const end = bytes.indexOf(0);
  return new TextDecoder().decode(end < 0 ? bytes : bytes.subarray(0, end));
}

// Cuts a connection's messages out of its bytes as they come: operations
// first, then (importing says so) URB commands. next() gives the next whole
// message, or null until more bytes come; it throws a UsbipError for what
// no client sends, after which the connection is beyond repair.
export class UsbipReader {
  constructor() {
    this.pending = new Uint8Array(0);
    this.urbs = false;
  }

  push(chunk) {
    const joined = new Uint8Array(this.pending.length + chunk.length);
    joined.set(this.pending);
    joined.set(chunk, this.pending.length);
    this.pending = joined;
  }

  // From now on the stream carries URB commands.
  startUrbs() { this.urbs = true; }

  take(count) {
    const taken = this.pending.slice(0, count);
    this.pending = this.pending.subarray(count);
    return taken;
  }

  next() {
    return this.urbs ? this.nextUrb() : this.nextOperation();
  }

  nextOperation() {
    if (this.pending.length < OP_HEADER_BYTES) return null;
    const view = new DataView(this.pending.buffer, this.pending.byteOffset);
    const version = view.getUint16(0);
    const code = view.getUint16(2);
    if (version !== USBIP_VERSION) throw new UsbipError(`USB/IP version ${version.toString(16)}, not 111`);
    if (code === OP_REQ_DEVLIST) {
      this.take(OP_HEADER_BYTES);
      return { op: OP_REQ_DEVLIST };
    }
    if (code !== OP_REQ_IMPORT) throw new UsbipError(`operation ${code.toString(16)}, which a client never asks`);
    if (this.pending.length < OP_HEADER_BYTES + BUSID_BYTES) return null;
    const bytes = this.take(OP_HEADER_BYTES + BUSID_BYTES);
    return { op: OP_REQ_IMPORT, busid: text(bytes.subarray(OP_HEADER_BYTES)) };
  }

  nextUrb() {
    if (this.pending.length < URB_HEADER_BYTES) return null;
    const view = new DataView(this.pending.buffer, this.pending.byteOffset);
    const [command, seqnum, devid, direction, ep] = [0, 4, 8, 12, 16].map((at) => view.getUint32(at));
    if (command === CMD_UNLINK) {
      this.take(URB_HEADER_BYTES);
      return { command, seqnum, devid, unlinkSeqnum: view.getUint32(20) };
    }
    if (command !== CMD_SUBMIT) throw new UsbipError(`URB command ${command}, which a client never sends`);
    if (direction !== DIR_OUT && direction !== DIR_IN) throw new UsbipError(`URB direction ${direction}`);
    if (ep > 15) throw new UsbipError(`endpoint ${ep}`);
    const length = view.getInt32(24);
    const packets = view.getInt32(32);
    if (length < 0 || length > MAX_TRANSFER_BYTES) throw new UsbipError(`a transfer of ${length} bytes`);
    if (packets > 1024) throw new UsbipError(`${packets} isochronous packets`);
    // Only OUT data travels with the command; isochronous descriptors, which
    // this device's endpoints never take, are skipped all the same.
    const data = direction === DIR_OUT ? length : 0;
    const total = URB_HEADER_BYTES + data + Math.max(0, packets) * ISO_DESCRIPTOR_BYTES;
    if (this.pending.length < total) return null;
    const bytes = this.take(total);
    return {
      command, seqnum, devid, direction, ep, length,
      flags: view.getUint32(20),
      interval: new DataView(bytes.buffer).getInt32(36),
      setup: bytes.slice(40, 48),
      data: bytes.slice(URB_HEADER_BYTES, URB_HEADER_BYTES + data),
    };
  }
}
