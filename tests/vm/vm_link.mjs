// The host's end of the VM tests' link (vm_link.h): a Unix socket that
// QEMU's virtio-serial port connects to. Each channel the guest opens is a
// connection of its own, handed to a server's serve(send, end); events go
// the other way as lines for the guest's logs.
import net from 'node:net';
import { readDefines } from '../../firmware/emulator/lamp_identity.mjs';

const { defines } = readDefines(new URL('./vm_link.h', import.meta.url));
const HEADER = defines.VM_LINK_HEADER_BYTES;
const MAX_PAYLOAD = defines.VM_LINK_MAX_PAYLOAD;
const [OPEN, DATA, CLOSE, EVENT] = ['OPEN', 'DATA', 'CLOSE', 'EVENT'].map((kind) => defines[`VM_LINK_${kind}`]);

export class VmLink {
  // server: what serve(send, end) each channel; ended: called when QEMU
  // goes away (the guest powered off).
  constructor(socketPath, server, ended) {
    this.server = server;
    this.channels = new Map();
    this.peer = null;
    this.inbox = Buffer.alloc(0);
    this.listener = net.createServer((peer) => this.connected(peer, ended));
    this.listening = new Promise((resolve, reject) => this.listener.once('error', reject).listen(socketPath, resolve));
  }

  connected(peer, ended) {
    if (this.peer) {
      peer.destroy();
      return;
    }
    this.peer = peer;
    peer.on('data', (bytes) => this.received(bytes));
    peer.on('close', () => {
      for (const connection of this.channels.values()) connection.ended();
      this.channels.clear();
      this.listener.close();
      ended();
    });
    peer.on('error', () => {});
  }

  // A payload longer than a frame's goes in several.
  send(kind, channel, payload = Buffer.alloc(0)) {
    if (!this.peer) return;
    let at = 0;
    do {
      const part = payload.subarray(at, at + MAX_PAYLOAD);
      this.peer.write(Buffer.concat([Buffer.from([kind, channel, part.length >> 8, part.length & 0xff]), part]));
      at += MAX_PAYLOAD;
    } while (at < payload.length);
  }

  // A line "TEXT" for the guest's NAME.log.
  event(name, text) {
    this.send(EVENT, 0, Buffer.from(`${name} ${text}`));
  }

  received(bytes) {
    this.inbox = Buffer.concat([this.inbox, bytes]);
    while (this.inbox.length >= HEADER) {
      const length = this.inbox.readUInt16BE(2);
      if (this.inbox.length < HEADER + length) break;
      const [kind, channel] = this.inbox;
      const payload = this.inbox.subarray(HEADER, HEADER + length);
      this.inbox = this.inbox.subarray(HEADER + length);
      this.frame(kind, channel, payload);
    }
  }

  frame(kind, channel, payload) {
    if (kind === OPEN) {
      this.channels.get(channel)?.ended();
      this.channels.set(channel, this.server.serve(
        (bytes) => this.send(DATA, channel, Buffer.from(bytes)),
        () => {
          this.channels.delete(channel);
          this.send(CLOSE, channel);
        }));
    } else if (kind === DATA) {
      this.channels.get(channel)?.received(new Uint8Array(payload));
    } else if (kind === CLOSE) {
      const connection = this.channels.get(channel);
      this.channels.delete(channel);
      connection?.ended();
    }
  }
}
