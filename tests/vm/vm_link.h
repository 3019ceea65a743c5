/* The link between the VM tests' host and their guest: one QEMU
 * virtio-serial port. The guest's end (vm_link.cpp) carries over it each
 * TCP connection that a client opens on the guest's own loopback; the
 * host's end (vm_link.mjs) hands each to its server, and sends back lines
 * for the guest to log. No IP address ever leaves the guest.
 *
 * A frame: its kind (1 byte), its channel (1 byte), the length of its
 * payload (2 bytes, big-endian), the payload. C and C++ alike; vm_link.mjs
 * reads these numbers from here. */
#ifndef TOLVAREN_VM_LINK_H
#define TOLVAREN_VM_LINK_H

#define VM_LINK_HEADER_BYTES 4
#define VM_LINK_MAX_PAYLOAD 65535
/* Guest to host: a client connected; its connection is this channel now. */
#define VM_LINK_OPEN 1
/* Either way: bytes of the channel's connection. */
#define VM_LINK_DATA 2
/* Either way: the channel's connection ended. */
#define VM_LINK_CLOSE 3
/* Host to guest, on channel 0: "NAME TEXT", a line for the log NAME.log,
 * which the guest stamps with its own clock as it arrives. */
#define VM_LINK_EVENT 4

#endif
