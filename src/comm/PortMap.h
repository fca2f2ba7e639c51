#pragma once
#include "comm/SettingsStore.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace pmx {

// A serial device found on this computer.
struct SerialPortEntry {
    QString device;         // what to open: the /dev/serial/by-id name when there is one
    QString systemLocation; // the kernel device, e.g. /dev/ttyUSB0
    QString description;    // maker and product as the system reports them
    bool usb = false;
};

// Maps the stored port names COM1..COM8 to devices. On Linux section "Ports" of the
// settings store holds explicit choices (key "COM1" = "/dev/ttyUSB0"); without one, COMn
// is the n-th USB serial device found, so a single USB adapter works as COM1 untouched.
// A name starting with "/" is a device path and "tcp://HOST:PORT" a device server's
// address; both are used as they are, also as stored choices. On Windows COMn is
// the system's own name.
class PortMap {
  public:
    using Discovery = std::function<QList<SerialPortEntry>()>;

    // discover defaults to discoverSystemPorts.
    explicit PortMap(SettingsStore& store, Discovery discover = {});

    // All serial devices, USB ones first, each group in kernel-name order.
    static QList<SerialPortEntry> discoverSystemPorts();
    QList<SerialPortEntry> discovered() const;

    // The device a port name opens; empty when a COMn has neither a stored device nor a
    // USB device to fall back on.
    QString resolve(const QString& portName) const;
    // The stored device for COMn (empty when none is stored).
    QString mapping(const QString& com) const;
    // Stores the device for COMn; an empty device goes back to automatic choice.
    void setMapping(const QString& com, const QString& device);

    // n for "COMn" (n >= 1), otherwise nullopt.
    static std::optional<int> comNumber(const QString& name);

    static inline const QString kSection = QStringLiteral("Ports");

  private:
    SettingsStore& m_store;
    Discovery m_discover;
};

} // namespace pmx
