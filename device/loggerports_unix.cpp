#include "device/loggerports_p.h"

#include "device/loggerprotocol.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

// Qt's port enumeration on Linux asks libudev for every device of the tty class, and libudev
// resolves each device's path one component at a time: some forty system calls a device. With the
// kernel's 64 virtual terminals that is 3 to 4 ms, and the window scans before it is first shown.
// A look at the few files the identifiers come from takes some 0.1 ms, and where none of them
// carries the logger's identifiers the enumeration would list no logger port.

namespace {

// A file of sysfs or of the udev database, whole (they are small); empty when it cannot be read.
QByteArray readFile(const QByteArray &path)
{
    QByteArray content;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return content;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, int(got));
    ::close(fd);
    return content;
}

// An identifier as the enumeration makes it of a text: hexadecimal, kept to 16 bits.
quint16 identifier(const QByteArray &text)
{
    return quint16(QString::fromLatin1(text).toInt(nullptr, 16));
}

// Which of the logger's identifiers a device's properties have shown so far.
struct Seen
{
    bool vendor = false;
    bool product = false;

    bool both() const { return vendor && product; }
};

// Looks at the "KEY=VALUE" lines of a uevent file (prefix "") or the "E:KEY=VALUE" lines of a
// udev record (prefix "E:"); a key given twice counts with either value. Returns the device
// number's "MAJOR:MINOR" when the lines give it.
QByteArray takeProperties(const QByteArray &text, const QByteArray &prefix, Seen &seen)
{
    QByteArray major, minor;
    for (int start = 0, end; start < text.size(); start = end + 1) {
        end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArray line = QByteArray::fromRawData(text.constData() + start, end - start);
        const int equals = line.indexOf('=');
        if (!line.startsWith(prefix) || equals < 0)
            continue;
        const QByteArray key = line.mid(prefix.size(), equals - prefix.size());
        const QByteArray value = line.mid(equals + 1);
        if (key == "ID_VENDOR_ID")
            seen.vendor = seen.vendor || identifier(value) == LoggerProtocol::kVendorId;
        else if (key == "ID_MODEL_ID")
            seen.product = seen.product || identifier(value) == LoggerProtocol::kProductId;
        else if (key == "MAJOR")
            major = value;
        else if (key == "MINOR")
            minor = value;
    }
    return major.isEmpty() || minor.isEmpty() ? QByteArray() : major + ':' + minor;
}

bool carriesIds(const QByteArray &vendorFile, const QByteArray &productFile)
{
    return identifier(readFile(vendorFile)) == LoggerProtocol::kVendorId
        && identifier(readFile(productFile)) == LoggerProtocol::kProductId;
}

// Where the tty class's entry name points: the device's own directory in sysfs, relative to the
// class directory or absolute; empty where the entry is no link.
QByteArray linkTarget(const QByteArray &ttyClassDir, const QByteArray &name)
{
    char target[4096];
    const ssize_t length
        = ::readlink((ttyClassDir + '/' + name).constData(), target, sizeof target - 1);
    if (length <= 0)
        return QByteArray();
    const QByteArray path(target, int(length));
    return path.startsWith('/') ? path : ttyClassDir + '/' + path;
}

// The sysfs fallback: a USB device anywhere above the tty's device, or its PCI device.
bool sysfsCarriesIds(QByteArray path)
{
    if (path.contains("usb")) {
        for (int slash = path.lastIndexOf('/'); slash > 0; slash = path.lastIndexOf('/')) {
            if (carriesIds(path + "/idVendor", path + "/idProduct"))
                return true;
            path.truncate(slash);
        }
    } else if (path.contains("pci")) {
        return carriesIds(path + "/device/vendor", path + "/device/device");
    }
    return false;
}

} // namespace

bool LoggerPorts::mayListLogger(const QByteArray &ttyClassDir, const QByteArray &udevDataDir)
{
    DIR *dir = ::opendir(ttyClassDir.constData());
    if (!dir)
        return true;
    int devices = 0;
    bool may = false;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        ++devices;
        const QByteArray target = linkTarget(ttyClassDir, name);
        // A virtual terminal, the console, ptmx or a Bluetooth link: a device of the kernel's
        // own with no device above it, which the enumeration lists without USB identifiers if
        // at all. Most of a machine's tty devices are of this kind (64 virtual terminals).
        if (target.endsWith("/devices/virtual/tty/" + name))
            continue;
        Seen seen;
        const QByteArray number
            = takeProperties(readFile(ttyClassDir + '/' + name + "/uevent"), "", seen);
        // libudev names a device's record by its number, or else by its class and name.
        const QByteArray record = number.isEmpty() ? "+tty:" + name : 'c' + number;
        takeProperties(readFile(udevDataDir + '/' + record), "E:", seen);
        if (seen.both() || sysfsCarriesIds(target)) {
            may = true;
            break;
        }
    }
    ::closedir(dir);
    return may || devices == 0;
}

bool LoggerPorts::mayListLogger()
{
    return mayListLogger("/sys/class/tty", "/run/udev/data");
}
