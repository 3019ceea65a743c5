// A lamp device made of a real Linux kernel HID device, for the VM tests:
// either a uhid device, or a USB gadget (configfs hid function) on a UDC
// such as dummy_hcd's, which the kernel's usbhid then enumerates as it does
// a lamp plugged in. Either way /dev/hidrawN appears with the lamp's ids,
// report descriptor and strings, and whatever reaches the device is logged.
//
//   kernel-lamp uhid|gadget --log FILE [--vid HEX] [--pid HEX]
//       [--manufacturer TEXT] [--product TEXT] [--serial TEXT]
//       [--refuse-when FILE] [--remove-when FILE]
//
// The log gets a line per event, written whole at once:
//   created uhid|gadget            the device is there
//   open / close                   (uhid) hidraw opened or closed
//   report TYPE XX XX ... VERDICT TIME
//                                  a report's bytes, report id first; TYPE
//                                  feature or output where the kernel says
//                                  (uhid), set_report for a gadget, whose
//                                  SET_REPORTs come without their type;
//                                  VERDICT ok or refused; TIME when it came,
//                                  in seconds of the system's clock
//   removed                        the device is gone
// --refuse-when FILE refuses reports while FILE is there: uhid answers
// each SET_REPORT with an error. The kernel's hid function answers a
// gadget's SET_REPORTs itself, so a gadget can't refuse one at a time:
// when FILE is there as it is plugged in, it gets an interrupt OUT
// endpoint, for which the function stalls every SET_REPORT, unseen.
// The lamp runs until FILE of --remove-when appears, or until SIGTERM or
// SIGINT, then takes the device away, logs "removed" and exits 0. Needs
// root (/dev/uhid; configfs mounted on /sys/kernel/config with
// libcomposite and usb_f_hid loaded).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lamps/lamp_identity.h"
#include "tests/vm/event_time.h"

namespace {

const char kUsage[] =
    "usage: kernel-lamp uhid|gadget --log FILE [--vid HEX] [--pid HEX] [--manufacturer TEXT]\n"
    "           [--product TEXT] [--serial TEXT] [--refuse-when FILE] [--remove-when FILE]\n";

struct Options {
    std::string kind;
    std::string log;
    unsigned vid = LAMP_VENDOR_ID, pid = LAMP_PRODUCT_ID;
    std::string manufacturer = LAMP_MANUFACTURER;
    std::string product = LAMP_PRODUCT;
    std::string serial;
    std::string refuseWhen;
    std::string removeWhen;
};

volatile sig_atomic_t stopping = 0;
int logFile = -1;

void Log(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) return;
    if (length > static_cast<int>(sizeof line) - 2) length = sizeof line - 2;
    line[length++] = '\n';
    // One write per line: a reader never sees half of one.
    if (write(logFile, line, length) != length) perror("kernel-lamp: writing the log");
}

std::string Hex(const unsigned char* bytes, size_t count)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

bool Fail(const char* what, const std::string& detail = "")
{
    fprintf(stderr, "kernel-lamp: %s%s%s: %s\n", what, detail.empty() ? "" : " ", detail.c_str(),
            errno ? strerror(errno) : "failed");
    return false;
}

bool Exists(const std::string& path)
{
    return !path.empty() && access(path.c_str(), F_OK) == 0;
}

// Whether to take the device away now.
bool Stop(const Options& options)
{
    return stopping || Exists(options.removeWhen);
}

// ---- uhid -------------------------------------------------------------------------

bool Send(int device, const uhid_event& event)
{
    return write(device, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool RunUhid(const Options& options)
{
    int device = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (device < 0) return Fail("opening", "/dev/uhid (is the uhid module loaded, and are you root?)");

    uhid_event event = {};
    event.type = UHID_CREATE2;
    // The name the kernel gives a USB device: its manufacturer and product.
    std::string name = options.manufacturer;
    if (!name.empty() && !options.product.empty()) name += " ";
    name += options.product;
    snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "%s", name.c_str());
    snprintf(reinterpret_cast<char*>(event.u.create2.phys), sizeof event.u.create2.phys, "kernel-lamp");
    snprintf(reinterpret_cast<char*>(event.u.create2.uniq), sizeof event.u.create2.uniq, "%s",
             options.serial.c_str());
    event.u.create2.rd_size = sizeof kLampReportDescriptor;
    memcpy(event.u.create2.rd_data, kLampReportDescriptor, sizeof kLampReportDescriptor);
    event.u.create2.bus = 0x03;  // BUS_USB, as the lamp is
    event.u.create2.vendor = options.vid;
    event.u.create2.product = options.pid;
    event.u.create2.version = 0x0100;
    if (!Send(device, event)) {
        close(device);
        return Fail("creating the uhid device");
    }
    Log("created uhid");

    bool ok = true;
    while (!Stop(options)) {
        pollfd ready = {device, POLLIN, 0};
        int count = poll(&ready, 1, 100);
        if (count < 0 && errno != EINTR) {
            ok = Fail("waiting for /dev/uhid");
            break;
        }
        if (count <= 0) continue;
        uhid_event got = {};
        if (read(device, &got, sizeof got) <= 0) {
            if (errno == EINTR) continue;
            ok = Fail("reading /dev/uhid");
            break;
        }
        uhid_event answer = {};
        switch (got.type) {
        case UHID_OPEN: Log("open"); break;
        case UHID_CLOSE: Log("close"); break;
        case UHID_OUTPUT:
            Log("report %s %s ok %s", got.u.output.rtype == UHID_FEATURE_REPORT ? "feature" : "output",
                Hex(got.u.output.data, got.u.output.size).c_str(), EventTime().c_str());
            break;
        case UHID_SET_REPORT: {
            const bool refuse = Exists(options.refuseWhen);
            Log("report %s %s %s %s", got.u.set_report.rtype == UHID_FEATURE_REPORT ? "feature" : "output",
                Hex(got.u.set_report.data, got.u.set_report.size).c_str(), refuse ? "refused" : "ok", EventTime().c_str());
            answer.type = UHID_SET_REPORT_REPLY;
            answer.u.set_report_reply.id = got.u.set_report.id;
            answer.u.set_report_reply.err = refuse ? EIO : 0;
            Send(device, answer);
            break;
        }
        case UHID_GET_REPORT:
            // The lamp keeps nothing to be read back.
            Log("get_report %02X refused", got.u.get_report.rnum);
            answer.type = UHID_GET_REPORT_REPLY;
            answer.u.get_report_reply.id = got.u.get_report.id;
            answer.u.get_report_reply.err = EIO;
            Send(device, answer);
            break;
        default: break;
        }
    }

    uhid_event destroy = {};
    destroy.type = UHID_DESTROY;
    Send(device, destroy);
    close(device);
    Log("removed");
    return ok;
}

// ---- USB gadget -------------------------------------------------------------------

const char kGadgets[] = "/sys/kernel/config/usb_gadget";

bool WriteFile(const std::string& path, const void* bytes, size_t count)
{
    int file = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (file < 0) return Fail("opening", path);
    bool written = write(file, bytes, count) == static_cast<ssize_t>(count);
    if (!written) Fail("writing", path);
    close(file);
    return written;
}

bool WriteText(const std::string& path, const std::string& text)
{
    return WriteFile(path, text.c_str(), text.size());
}

std::string ReadText(const std::string& path)
{
    char text[256] = "";
    int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return "";
    ssize_t count = read(file, text, sizeof text - 1);
    close(file);
    if (count <= 0) return "";
    text[count] = 0;
    text[strcspn(text, "\n")] = 0;
    return text;
}

std::vector<std::string> Entries(const std::string& directory)
{
    std::vector<std::string> names;
    if (DIR* list = opendir(directory.c_str())) {
        while (dirent* entry = readdir(list))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(list);
    }
    return names;
}

// The first UDC that no gadget is bound to, in the kernel's order.
std::string FreeUdc()
{
    std::vector<std::string> taken;
    for (const std::string& gadget : Entries(kGadgets)) taken.push_back(ReadText(std::string(kGadgets) + "/" + gadget + "/UDC"));
    std::vector<std::string> udcs = Entries("/sys/class/udc");
    std::string best;
    for (const std::string& udc : udcs) {
        bool used = false;
        for (const std::string& name : taken) used = used || name == udc;
        if (!used && (best.empty() || udc < best)) best = udc;
    }
    return best;
}

class Gadget {
public:
    explicit Gadget(const Options& options) : options_(options), refuse_(Exists(options.refuseWhen))
    {
        char name[64];
        snprintf(name, sizeof name, "%s/kernel-lamp-%d", kGadgets, static_cast<int>(getpid()));
        root_ = name;
        function_ = root_ + "/functions/hid.lamp";
        link_ = root_ + "/configs/c.1/hid.lamp";
    }
    ~Gadget() { TakeAway(); }

    bool Plug()
    {
        char number[16];
        if (mkdir(root_.c_str(), 0755) != 0)
            return Fail("making the gadget", root_ + " (is configfs mounted, and libcomposite loaded?)");
        made_ = true;
        snprintf(number, sizeof number, "0x%04x", options_.vid);
        if (!WriteText(root_ + "/idVendor", number)) return false;
        snprintf(number, sizeof number, "0x%04x", options_.pid);
        if (!WriteText(root_ + "/idProduct", number) || !WriteText(root_ + "/bcdDevice", "0x0100") ||
            !WriteText(root_ + "/bcdUSB", "0x0200"))
            return false;
        const std::string strings = root_ + "/strings/0x409";
        if (mkdir(strings.c_str(), 0755) != 0) return Fail("making", strings);
        if ((!options_.manufacturer.empty() && !WriteText(strings + "/manufacturer", options_.manufacturer)) ||
            (!options_.product.empty() && !WriteText(strings + "/product", options_.product)) ||
            (!options_.serial.empty() && !WriteText(strings + "/serialnumber", options_.serial)))
            return false;
        const std::string config = root_ + "/configs/c.1";
        if (mkdir(config.c_str(), 0755) != 0) return Fail("making", config);
        if (mkdir(function_.c_str(), 0755) != 0) return Fail("making", function_ + " (is usb_f_hid loaded?)");
        // Without an OUT endpoint every report comes as a SET_REPORT on the
        // control pipe, as the lamp takes them; with one, the function
        // stalls SET_REPORTs.
        if (!WriteText(function_ + "/protocol", "0") || !WriteText(function_ + "/subclass", "0") ||
            !WriteText(function_ + "/report_length", "8") ||
            !WriteText(function_ + "/no_out_endpoint", refuse_ ? "0" : "1") ||
            !WriteFile(function_ + "/report_desc", kLampReportDescriptor, sizeof kLampReportDescriptor))
            return false;
        if (symlink(function_.c_str(), link_.c_str()) != 0) return Fail("linking", link_);
        const std::string udc = FreeUdc();
        if (udc.empty()) {
            errno = 0;
            return Fail("finding a free UDC in /sys/class/udc (load dummy_hcd, with num=N for N lamps)");
        }
        if (!WriteText(root_ + "/UDC", udc)) return false;
        bound_ = true;

        // The function's character device, /dev/hidgN, is where the
        // SET_REPORTs arrive.
        const std::string node = "/sys/dev/char/" + ReadText(function_ + "/dev") + "/uevent";
        FILE* uevent = fopen(node.c_str(), "r");
        char line[128], device[160] = "";
        while (uevent && fgets(line, sizeof line, uevent))
            if (strncmp(line, "DEVNAME=", 8) == 0) snprintf(device, sizeof device, "/dev/%s", line + 8);
        if (uevent) fclose(uevent);
        device[strcspn(device, "\n")] = 0;
        if (!device[0]) return Fail("finding the function's device in", node);
        for (int tries = 0; tries < 50 && (reader_ = open(device, O_RDONLY | O_CLOEXEC)) < 0; ++tries) usleep(100000);
        if (reader_ < 0) return Fail("opening", device);
        Log("created gadget");
        return true;
    }

    bool Serve()
    {
        while (!Stop(options_)) {
            pollfd ready = {reader_, POLLIN, 0};
            int count = poll(&ready, 1, 100);
            if (count < 0 && errno != EINTR) return Fail("waiting for the gadget's reports");
            if (count <= 0) continue;
            unsigned char report[64];
            ssize_t size = read(reader_, report, sizeof report);
            if (size < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (size < 0) return Fail("reading the gadget's reports");
            // With an OUT endpoint only output reports come this way.
            Log("report %s %s ok %s", refuse_ ? "output" : "set_report", Hex(report, size).c_str(), EventTime().c_str());
        }
        return true;
    }

    // Unplugged first, as a lamp pulled out is; then its configuration goes.
    void TakeAway()
    {
        if (reader_ >= 0) close(reader_);
        reader_ = -1;
        if (bound_) WriteText(root_ + "/UDC", "\n");
        if (made_) {
            unlink(link_.c_str());
            rmdir((root_ + "/configs/c.1").c_str());
            rmdir(function_.c_str());
            rmdir((root_ + "/strings/0x409").c_str());
            rmdir(root_.c_str());
            Log("removed");
        }
        bound_ = made_ = false;
    }

private:
    const Options& options_;
    const bool refuse_;
    std::string root_, function_, link_;
    bool made_ = false, bound_ = false;
    int reader_ = -1;
};

bool RunGadget(const Options& options)
{
    Gadget gadget(options);
    bool ok = gadget.Plug() && gadget.Serve();
    gadget.TakeAway();
    return ok;
}

// ---- command line -----------------------------------------------------------------

bool ParseHex(const char* text, unsigned* value)
{
    char* end = nullptr;
    unsigned long parsed = strtoul(text, &end, 16);
    if (!*text || *end || parsed > 0xFFFF) return false;
    *value = static_cast<unsigned>(parsed);
    return true;
}

bool Parse(int argc, char** argv, Options* options)
{
    if (argc < 2) return false;
    options->kind = argv[1];
    if (options->kind != "uhid" && options->kind != "gadget") return false;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (option == "--log") options->log = value;
        else if (option == "--vid") { if (!ParseHex(value, &options->vid)) return false; }
        else if (option == "--pid") { if (!ParseHex(value, &options->pid)) return false; }
        else if (option == "--manufacturer") options->manufacturer = value;
        else if (option == "--product") options->product = value;
        else if (option == "--serial") options->serial = value;
        else if (option == "--refuse-when") options->refuseWhen = value;
        else if (option == "--remove-when") options->removeWhen = value;
        else return false;
    }
    return !options->log.empty();
}

void OnSignal(int) { stopping = 1; }

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, &options)) {
        fputs(kUsage, stderr);
        return 2;
    }
    logFile = open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFile < 0) {
        Fail("opening the log", options.log);
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    const bool ok = options.kind == "uhid" ? RunUhid(options) : RunGadget(options);
    close(logFile);
    return ok ? 0 : 1;
}
