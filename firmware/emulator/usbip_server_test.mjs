// The USB/IP server of the emulated lamps, on this machine's loopback,
// with this test as the client a kernel's vhci-hcd and the usbip tool
// would be: the list, imports (and one refused), control transfers of the
// lamp's own reports, a stalled one, an interrupt IN URB held until it is
// unlinked, a broken stream, and a detach that resets the lamp.
//   node usbip_server_test.mjs FIRMWARE.uf2 lamp_identity.h
import net from 'node:net';
import { readLampIdentity } from './lamp_identity.mjs';
import { getDescriptor, setupPacket } from './usb_host.mjs';
import { UsbipLamp } from './usbip_lamp.mjs';
import { UsbipServer } from './usbip_server.mjs';
import {
  CMD_SUBMIT, CMD_UNLINK, DIR_IN, DIR_OUT, ECONNRESET, EPIPE, OP_REQ_DEVLIST, OP_REQ_IMPORT,
  ST_DEV_BUSY, ST_NODEV, USBIP_VERSION,
} from './usbip_protocol.mjs';

const [uf2Path, headerPath] = process.argv.slice(2);
const lamp = readLampIdentity(headerPath);
// What the server said, shown when a check fails.
const logged = [];
const IDS = [[0xe6, 0x60, 0x58, 0x38, 0x83, 0x72, 0x4a, 0x01], [0xe6, 0x60, 0x58, 0x38, 0x83, 0x72, 0x4a, 0x02]];

function check(condition, message) {
  if (!condition) throw new Error(message);
}
const until = async (done, ms) => {
  for (const end = Date.now() + ms; !done(); await new Promise((resolve) => setTimeout(resolve, 20)))
    if (Date.now() > end) return false;
  return true;
};
const hex = (value) => `0x${value.toString(16).toUpperCase().padStart(4, '0')}`;

// A client connection whose replies are read by length.
class Client {
  static async connect(port) {
    const client = new Client();
    client.socket = net.connect(port, '127.0.0.1');
    client.buffer = Buffer.alloc(0);
    client.closed = false;
    client.socket.on('data', (data) => { client.buffer = Buffer.concat([client.buffer, data]); client.wake?.(); });
    client.socket.on('close', () => { client.closed = true; client.wake?.(); });
    await new Promise((resolve, reject) => client.socket.once('connect', resolve).once('error', reject));
    return client;
  }

  async read(count, what) {
    const deadline = Date.now() + 10000;
    while (this.buffer.length < count) {
      check(!this.closed, `the server closed the connection before ${what}`);
      check(Date.now() < deadline, `no ${what} in 10 s`);
      await new Promise((resolve) => { this.wake = resolve; setTimeout(resolve, 100); });
    }
    const taken = this.buffer.subarray(0, count);
    this.buffer = this.buffer.subarray(count);
    return taken;
  }

  async closedByServer() {
    const deadline = Date.now() + 10000;
    while (!this.closed && Date.now() < deadline) await new Promise((resolve) => { this.wake = resolve; setTimeout(resolve, 100); });
    return this.closed;
  }

  send(bytes) { this.socket.write(bytes); }
  end() { this.socket.end(); }

  operation(code, busid = null) {
    const bytes = Buffer.alloc(busid === null ? 8 : 40);
    bytes.writeUInt16BE(USBIP_VERSION, 0);
    bytes.writeUInt16BE(code, 2);
    if (busid !== null) bytes.write(busid, 8);
    this.send(bytes);
  }

  async devlist() {
    this.operation(OP_REQ_DEVLIST);
    const head = await this.read(12, 'the devlist reply');
    const devices = [];
    for (let i = 0; i < head.readUInt32BE(8); i++) {
      const device = parseDevice(await this.read(312, 'a listed device'));
      device.interfaces = [...(await this.read(4 * device.bNumInterfaces, 'its interfaces'))].filter((_, j) => j % 4 === 0);
      devices.push(device);
    }
    return devices;
  }

  async import(busid) {
    this.operation(OP_REQ_IMPORT, busid);
    const head = await this.read(8, 'the import reply');
    check(head.readUInt16BE(2) === 3, `import reply code ${head.readUInt16BE(2)}`);
    const status = head.readUInt32BE(4);
    return { status, device: status === 0 ? parseDevice(await this.read(312, 'the imported device')) : null };
  }

  submit(seqnum, direction, ep, setup, length, data = Buffer.alloc(0)) {
    const bytes = Buffer.alloc(48 + data.length);
    [CMD_SUBMIT, seqnum, 0x10002, direction, ep, 0, length, 0, 0, 0].forEach((word, i) => bytes.writeUInt32BE(word >>> 0, 4 * i));
    Buffer.from(setup).copy(bytes, 40);
    Buffer.from(data).copy(bytes, 48);
    this.send(bytes);
  }

  unlink(seqnum, victim) {
    const bytes = Buffer.alloc(48);
    [CMD_UNLINK, seqnum, 0x10002, 0, 0, victim].forEach((word, i) => bytes.writeUInt32BE(word, 4 * i));
    this.send(bytes);
  }

  // RET_SUBMIT carries data for an IN transfer only.
  async answer(what, direction = DIR_OUT) {
    const head = await this.read(48, what);
    const reply = { command: head.readUInt32BE(0), seqnum: head.readUInt32BE(4), status: head.readInt32BE(20), length: head.readInt32BE(24) };
    const withData = reply.command === 3 && direction === DIR_IN && reply.length > 0;
    reply.data = withData ? Buffer.from(await this.read(reply.length, `${what}'s data`)) : Buffer.alloc(0);
    return reply;
  }

  // A control transfer; IN data is read by its returned length.
  async control(seqnum, setup, data = null) {
    const length = setup[6] | (setup[7] << 8);
    const direction = setup[0] & 0x80 ? DIR_IN : DIR_OUT;
    this.submit(seqnum, direction, 0, setup, length, direction === DIR_OUT ? data : undefined);
    const reply = await this.answer(`the answer to URB ${seqnum}`, direction);
    check(reply.command === 3 && reply.seqnum === seqnum, `URB ${seqnum} answered by command ${reply.command}, seqnum ${reply.seqnum}`);
    return reply;
  }
}

function parseDevice(bytes) {
  const text = (from, to) => bytes.subarray(from, to).toString().replace(/\0.*$/s, '');
  return {
    busid: text(256, 288), busnum: bytes.readUInt32BE(288), devnum: bytes.readUInt32BE(292), speed: bytes.readUInt32BE(296),
    idVendor: bytes.readUInt16BE(300), idProduct: bytes.readUInt16BE(302),
    bConfigurationValue: bytes[309], bNumConfigurations: bytes[310], bNumInterfaces: bytes[311],
  };
}

const setReport = (value) => [setupPacket(0x21, 0x09, 0x0300 | lamp.reportId, 0, lamp.reportLength),
  Buffer.from([lamp.reportId, 0, value & 0xff, value >> 8, 0, 0, 0])];
const getReport = setupPacket(0xa1, 0x01, 0x0300 | lamp.reportId, 0, lamp.reportLength);

async function main() {
  const pins = [[], []];
  const lamps = ['first', 'second'].map((name, i) => new UsbipLamp({
    uf2Path, name, busid: `1-${i + 1}`, devnum: 2 + i, flashId: new Uint8Array(IDS[i]),
    onPins: (value) => pins[i].push(value),
  }));
  lamps.forEach((one) => one.plugIn());
  const pluggedIn = Date.now();
  const server = new UsbipServer(lamps, { log: (line) => logged.push(line) });
  const listener = net.createServer((socket) => {
    const connection = server.serve((bytes) => socket.write(bytes), () => socket.end());
    socket.on('data', (data) => connection.received(new Uint8Array(data)));
    socket.on('close', () => connection.ended());
  });
  await new Promise((resolve) => listener.listen(0, '127.0.0.1', resolve));
  const { port } = listener.address();
  const keepingUp = setInterval(() => lamps.forEach((one) => one.keepUp()), 5);
  // Emulated time keeps up with the wall clock: the power-up sweep (each
  // lamp once, then dark) runs its course within a second, as on a board.
  const swept = await until(() => pins.every((shown) => shown.length === 18), 5000);
  check(swept && pins.every((shown) => shown.at(-1) === 0), `the sweeps showed ${pins.map((shown) => shown.map(hex).join(' '))}`);
  const sweepMs = Date.now() - pluggedIn;
  pins.forEach((shown) => { shown.length = 0; });

  const lister = await Client.connect(port);
  const listed = await lister.devlist();
  check(await lister.closedByServer(), 'the server kept the connection open after the list');
  check(listed.length === 2 && listed.every((d, i) => d.busid === `1-${i + 1}` && d.idVendor === lamp.vendorId &&
    d.idProduct === lamp.productId && d.speed === 2 && d.bConfigurationValue === 1 && d.interfaces.join() === '3'),
  `the list: ${JSON.stringify(listed)}`);

  const client = await Client.connect(port);
  const imported = await client.import('1-1');
  check(imported.status === 0 && imported.device.busid === '1-1' && imported.device.devnum === 2,
    `importing 1-1: ${JSON.stringify(imported)}`);
  for (const [busid, status] of [['1-1', ST_DEV_BUSY], ['9-9', ST_NODEV]]) {
    const other = await Client.connect(port);
    const refused = await other.import(busid);
    check(refused.status === status && await other.closedByServer(), `importing ${busid} again: status ${refused.status}`);
  }

  const device = await client.control(1, getDescriptor(1, 0, 64));
  check(device.status === 0 && device.data.length === 18 && device.data.readUInt16LE(8) === lamp.vendorId, `device descriptor: ${device.data.toString('hex')}`);
  const serial = await client.control(2, getDescriptor(3, device.data[16], 255, 0x0409));
  const serialText = serial.data.subarray(2).toString('utf16le');
  check(serialText === Buffer.from(IDS[0]).toString('hex').toUpperCase(), `serial "${serialText}"`);

  const interrupt = 3;
  client.submit(interrupt, DIR_IN, 1, new Uint8Array(8), 64);
  for (const [seqnum, value] of [[4, 0x5aa5], [5, 0x00ff], [6, 0x8001]]) {
    const [packet, data] = setReport(value);
    const done = await client.control(seqnum, packet, data);
    check(done.status === 0 && done.length === 7, `SET_REPORT ${hex(value)}: status ${done.status}, ${done.length} bytes`);
    const back = await client.control(seqnum + 10, getReport);
    check(back.status === 0 && back.data.readUInt16LE(2) === value, `GET_REPORT after ${hex(value)}: ${back.data.toString('hex')}`);
  }
  check(pins[0].join() === [0x5aa5, 0x00ff, 0x8001].join(), `the first lamp's pins went ${pins[0].map(hex).join(', ')}`);
  check(pins[1].length === 0, `the second lamp's pins went ${pins[1].map(hex).join(', ')}`);
  const [wrongId] = setReport(0x1234);
  wrongId[2] = 2;
  const stalled = await client.control(20, wrongId, setReport(0x1234)[1]);
  check(stalled.status === EPIPE && pins[0].at(-1) === 0x8001, `SET_REPORT of report id 2: status ${stalled.status}`);

  client.unlink(21, interrupt);
  const unlinked = await client.answer('the unlink answer');
  check(unlinked.command === 4 && unlinked.seqnum === 21 && unlinked.status === ECONNRESET,
    `unlinking the interrupt URB: ${JSON.stringify(unlinked)}`);
  client.unlink(22, 4);
  const late = await client.answer('the second unlink answer');
  check(late.command === 4 && late.status === 0, `unlinking an answered URB: status ${late.status}`);

  client.end();
  check(await until(() => pins[0].at(-1) === 0, 10000), `after the detach the first lamp shows ${hex(pins[0].at(-1))}`);
  const again = await Client.connect(port);
  check((await again.import('1-1')).status === 0, 'the first lamp could not be imported again after its detach');
  again.send(Buffer.alloc(48, 0xff));
  check(await again.closedByServer(), 'a broken URB stream left the connection open');

  clearInterval(keepingUp);
  listener.close();
  const wall = lamps[0].setReports.map((r) => r.wallMs).sort((a, b) => a - b);
  return `swept in ${sweepMs} ms of wall time, listed 2 lamps, imported 1-1 (1-1 again: busy; 9-9: no device), serial ${serialText}, three lamp values ` +
    `on the pins and read back, report id 2 stalled, the interrupt URB unlinked, dark after the detach; ` +
    `the emulator took ${wall[Math.floor(wall.length / 2)].toFixed(2)} ms of wall time a SET_REPORT (median)`;
}

const started = process.hrtime.bigint();
main().then((said) => {
  console.log(`ok usbip_server: ${said} (${(Number(process.hrtime.bigint() - started) / 1e6).toFixed(0)} ms of wall time)`);
  process.exit(0);
}, (error) => {
  console.error(`FAILED usbip_server: ${error.message}\nthe server said:\n  ${logged.join('\n  ')}`);
  process.exit(1);
});
