#pragma once

class QByteArray;

// Between the shared part of the port lookup and its one per-platform file.
namespace LoggerPorts {

/// False only when no port that the system's port enumeration lists can carry the logger's USB
/// identifiers; then that enumeration, far dearer than this look, need not run to find none.
bool mayListLogger();

#ifndef _WIN32
/// mayListLogger() on a tty class directory and a udev database directory given: false only
/// when ttyClassDir holds devices and none of them carries the logger's identifiers in any of the
/// places the port enumeration takes them from: the device's uevent file and its udev record
/// (ID_VENDOR_ID, ID_MODEL_ID) or, where the enumeration falls back to sysfs, the idVendor and
/// idProduct of a USB device above it or the vendor and device of its PCI device. An unreadable
/// or empty ttyClassDir says nothing, and the answer is true.
bool mayListLogger(const QByteArray &ttyClassDir, const QByteArray &udevDataDir);
#endif

} // namespace LoggerPorts
