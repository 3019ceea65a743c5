// A USB/IP server for emulated lamps (usbip_lamp.mjs): it lists them
// (OP_REQ_DEVLIST), lets a client import one at a time each (OP_REQ_IMPORT),
// and then serves the client's URBs on it: control transfers on endpoint 0
// run on the chip at once; an interrupt IN URB waits for an input report
// until it is unlinked. A connection ending releases its lamp. Connections
// come from any byte stream: serve() takes a transport's two ends and
// gives back what the transport calls with the bytes received and at its
// end.
import {
  CMD_SUBMIT, DIR_IN, EPIPE, OP_REQ_DEVLIST, OP_REQ_IMPORT, ST_DEV_BUSY, ST_NODEV, ST_OK,
  UsbipError, UsbipReader, devlistReply, importReply, retSubmit, retUnlink,
} from './usbip_protocol.mjs';

export class UsbipServer {
  // log(line) hears what happens; onClient(lamp, 'imported' | 'released')
  // hears of a lamp taken and let go; trace(line), when given, hears of
  // every URB and its answer.
  constructor(lamps, { log = () => {}, onClient = () => {}, trace = null } = {}) {
    Object.assign(this, { lamps, log, onClient, trace });
  }

  // send(bytes) writes to the client, end() closes the connection. Returns
  // { received(bytes), ended() } for the transport to call.
  serve(send, end) {
    const connection = { reader: new UsbipReader(), lamp: null, open: true, send, end };
    return {
      received: (bytes) => this.received(connection, bytes),
      ended: () => this.ended(connection),
    };
  }

  received(connection, bytes) {
    if (!connection.open) return;
    connection.reader.push(bytes);
    try {
      for (let message = connection.reader.next(); message && connection.open; message = connection.reader.next()) {
        if (connection.lamp) this.urb(connection, message);
        else this.operation(connection, message);
      }
    } catch (error) {
      if (!(error instanceof UsbipError)) throw error;
      this.log(`a client sent what USB/IP has not (${error.message}); its connection is closed`);
      this.close(connection);
    }
  }

  // Like usbipd, one operation a connection: a list, or an import after
  // which the connection carries the imported device's URBs.
  operation(connection, message) {
    if (message.op === OP_REQ_DEVLIST) {
      connection.send(devlistReply(this.lamps.map((lamp) => lamp.device)));
      this.close(connection);
      return;
    }
    const lamp = this.lamps.find((candidate) => candidate.busid === message.busid);
    const status = !lamp ? ST_NODEV : lamp.client ? ST_DEV_BUSY : ST_OK;
    if (status !== ST_OK) {
      this.log(`import of ${message.busid} refused: ${status === ST_NODEV ? 'no such device' : 'in use'}`);
      connection.send(importReply(status));
      this.close(connection);
      return;
    }
    lamp.client = connection;
    connection.lamp = lamp;
    connection.reader.startUrbs();
    connection.send(importReply(ST_OK, lamp.device));
    this.log(`${lamp.name} (${lamp.busid}) imported`);
    this.onClient(lamp, 'imported');
  }

  urb(connection, message) {
    const { lamp } = connection;
    const said = (what) => this.trace?.(`${lamp.name}: URB ${message.seqnum} ${what}`);
    if (message.command !== CMD_SUBMIT) {
      const status = lamp.unlink(message.unlinkSeqnum);
      said(`unlinks ${message.unlinkSeqnum}: ${status}`);
      connection.send(retUnlink(message.seqnum, status));
      return;
    }
    const what = `ep ${message.ep} ${message.direction === DIR_IN ? 'in' : 'out'} ${message.length}` +
      (message.ep === 0 ? ` setup ${Buffer.from(message.setup).toString('hex')}` : '');
    if (message.ep === 0) {
      const { status, data } = lamp.control(message.setup, message.data);
      said(`${what}: ${status}, ${message.direction === DIR_IN ? data.length : message.data.length} bytes`);
      connection.send(message.direction === DIR_IN
        ? retSubmit(message.seqnum, status, data.length, data)
        : retSubmit(message.seqnum, status, status === 0 ? message.data.length : 0));
    } else if (message.direction === DIR_IN) {
      said(`${what}: held for an input report`);
      lamp.submitIn(message.seqnum, message.ep, message.length, (status, data) => {
        said(`${what}: ${status}, ${data.length} bytes`);
        if (connection.open) connection.send(retSubmit(message.seqnum, status, data.length, data));
      });
    } else {
      // The lamp has no OUT endpoint but its control pipe.
      said(`${what}: stalled, no such endpoint`);
      connection.send(retSubmit(message.seqnum, EPIPE, 0));
    }
  }

  close(connection) {
    if (!connection.open) return;
    this.ended(connection);
    connection.end();
  }

  ended(connection) {
    if (!connection.open) return;
    connection.open = false;
    if (connection.lamp) {
      this.log(`${connection.lamp.name} (${connection.lamp.busid}) released: reset, and ready to be imported again`);
      connection.lamp.release();
      this.onClient(connection.lamp, 'released');
    }
  }
}
