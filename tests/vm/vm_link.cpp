// The guest's end of the VM tests' link (vm_link.h): a relay between the
// TCP connections that clients (usbip, and the kernel's vhci-hcd once a
// device is attached) open on the guest's own loopback, and the
// virtio-serial port whose other end is the host's (vm_link.mjs, which
// serves the emulated lamps over USB/IP). Each connection is a channel of
// its own. The host's event lines go to NAME.log in the log folder, each
// stamped with the guest's clock as it came, so that a test in the guest
// can tell by its own clock when a lamp's pins changed.
//
//   vm-link PORT_DEVICE TCP_PORT LOG_FOLDER
//
// Listens on 127.0.0.1:TCP_PORT and nowhere else; says "listening" on
// standard output once clients may connect. Runs until the port device
// ends or a SIGTERM or SIGINT comes; exits 1 when it can't start.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/vm/event_time.h"
#include "tests/vm/vm_link.h"

namespace {

const int kChannels = 256;
// Channel 0 carries the host's events; connections take the others in turn,
// so that a late frame for a channel just closed finds it unused.
const int kFirstChannel = 1;

volatile sig_atomic_t stopping = 0;
int channelFd[kChannels];
int nextChannel = kFirstChannel;
std::string logFolder;

bool Fail(const char* what)
{
    fprintf(stderr, "vm-link: %s: %s\n", what, strerror(errno));
    return false;
}

bool WriteAll(int fd, const unsigned char* bytes, size_t count)
{
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

bool SendFrame(int port, int kind, int channel, const unsigned char* payload, size_t length)
{
    unsigned char frame[VM_LINK_HEADER_BYTES + VM_LINK_MAX_PAYLOAD];
    frame[0] = static_cast<unsigned char>(kind);
    frame[1] = static_cast<unsigned char>(channel);
    frame[2] = static_cast<unsigned char>(length >> 8);
    frame[3] = static_cast<unsigned char>(length & 0xFF);
    if (length > 0) memcpy(frame + VM_LINK_HEADER_BYTES, payload, length);
    return WriteAll(port, frame, VM_LINK_HEADER_BYTES + length);
}

int Listen(int tcpPort)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return Fail("making the listening socket"), -1;
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(tcpPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 8) != 0) {
        Fail("listening on 127.0.0.1 (is the loopback up?)");
        close(listener);
        return -1;
    }
    return listener;
}

// A new client on the next free channel; refused when all are taken.
void Accept(int listener, int port)
{
    const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    for (int tries = 0; tries < kChannels - kFirstChannel; ++tries) {
        const int channel = nextChannel;
        nextChannel = channel + 1 < kChannels ? channel + 1 : kFirstChannel;
        if (channelFd[channel] >= 0) continue;
        channelFd[channel] = client;
        SendFrame(port, VM_LINK_OPEN, channel, nullptr, 0);
        return;
    }
    fprintf(stderr, "vm-link: every channel is in use; a client is turned away\n");
    close(client);
}

void CloseChannel(int channel)
{
    if (channelFd[channel] < 0) return;
    close(channelFd[channel]);
    channelFd[channel] = -1;
}

// A client's bytes go to the host; its end too.
void Forward(int channel, int port)
{
    unsigned char bytes[16384];
    const ssize_t count = read(channelFd[channel], bytes, sizeof bytes);
    if (count < 0 && errno == EINTR) return;
    if (count > 0) {
        SendFrame(port, VM_LINK_DATA, channel, bytes, static_cast<size_t>(count));
        return;
    }
    CloseChannel(channel);
    SendFrame(port, VM_LINK_CLOSE, channel, nullptr, 0);
}

// "NAME TEXT" as "TEXT SECONDS.MICROSECONDS" in NAME.log, in one write.
void LogEvent(const unsigned char* payload, size_t length)
{
    const std::string event(reinterpret_cast<const char*>(payload), length);
    const size_t space = event.find(' ');
    const std::string name = event.substr(0, space);
    if (space == std::string::npos || name.empty() || name.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos) {
        fprintf(stderr, "vm-link: an event without a lamp's name: %s\n", event.c_str());
        return;
    }
    const std::string line = event.substr(space + 1) + " " + EventTime() + "\n";
    const int file = open((logFolder + "/" + name + ".log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0 || !WriteAll(file, reinterpret_cast<const unsigned char*>(line.data()), line.size()))
        Fail(("logging an event of " + name).c_str());
    if (file >= 0) close(file);
}

void TakeFrame(int kind, int channel, const unsigned char* payload, size_t length)
{
    if (kind == VM_LINK_EVENT) {
        LogEvent(payload, length);
    } else if (kind == VM_LINK_DATA && channelFd[channel] >= 0) {
        if (!WriteAll(channelFd[channel], payload, length)) CloseChannel(channel);
    } else if (kind == VM_LINK_CLOSE) {
        CloseChannel(channel);
    }
}

// The host's frames as they come; false when the port ends.
bool Receive(int port, std::vector<unsigned char>* inbox)
{
    unsigned char bytes[16384];
    const ssize_t count = read(port, bytes, sizeof bytes);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (count <= 0) return false;
    inbox->insert(inbox->end(), bytes, bytes + count);
    size_t at = 0;
    while (inbox->size() - at >= VM_LINK_HEADER_BYTES) {
        const unsigned char* frame = inbox->data() + at;
        const size_t length = (static_cast<size_t>(frame[2]) << 8) | frame[3];
        if (inbox->size() - at < VM_LINK_HEADER_BYTES + length) break;
        TakeFrame(frame[0], frame[1], frame + VM_LINK_HEADER_BYTES, length);
        at += VM_LINK_HEADER_BYTES + length;
    }
    inbox->erase(inbox->begin(), inbox->begin() + static_cast<long>(at));
    return true;
}

bool Relay(int port, int listener)
{
    std::vector<unsigned char> inbox;
    while (!stopping) {
        std::vector<pollfd> watched = {{listener, POLLIN, 0}, {port, POLLIN, 0}};
        std::vector<int> channels;
        for (int channel = kFirstChannel; channel < kChannels; ++channel) {
            if (channelFd[channel] < 0) continue;
            watched.push_back({channelFd[channel], POLLIN, 0});
            channels.push_back(channel);
        }
        if (poll(watched.data(), watched.size(), 500) < 0) {
            if (errno == EINTR) continue;
            return Fail("waiting");
        }
        if (watched[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!Receive(port, &inbox)) return true;
        }
        for (size_t i = 0; i < channels.size(); ++i)
            if (watched[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) Forward(channels[i], port);
        if (watched[0].revents & POLLIN) Accept(listener, port);
    }
    return true;
}

void OnSignal(int) { stopping = 1; }

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || atoi(argv[2]) <= 0 || atoi(argv[2]) > 65535) {
        fputs("usage: vm-link PORT_DEVICE TCP_PORT LOG_FOLDER\n", stderr);
        return 2;
    }
    logFolder = argv[3];
    for (int& fd : channelFd) fd = -1;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int port = open(argv[1], O_RDWR | O_CLOEXEC);
    if (port < 0) return Fail(argv[1]), 1;
    const int listener = Listen(atoi(argv[2]));
    if (listener < 0) return 1;
    printf("listening on 127.0.0.1:%s\n", argv[2]);
    fflush(stdout);
    const bool ok = Relay(port, listener);
    for (int channel = kFirstChannel; channel < kChannels; ++channel) CloseChannel(channel);
    close(listener);
    close(port);
    return ok ? 0 : 1;
}
