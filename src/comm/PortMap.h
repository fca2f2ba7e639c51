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

    // What a typed device text is. Only looked at, never opened, so nonsense cannot hang.
    enum class DeviceText {
        Device,            // a device file, or a well-formed tcp://HOST:PORT
        Absent,            // a path where nothing is now (an adapter not plugged in)
        NotADevice,        // a path to a file or folder that is no device
        NotAPath,          // neither a path nor a network address
        BadNetworkAddress, // tcp:// without a usable host and port
    };
    static DeviceText checkDeviceText(const QString& text);

    // The links in aliasDir that lead to the same device (its stable names, which survive
    // re-plugging), the device itself left out.
    static QStringList stableNames(const QString& device, const QString& aliasDir = kAliasDir);
    // The first stable name of a device, or the device itself when it has none.
    static QString stableName(const QString& device, const QString& aliasDir = kAliasDir);
    // The same text, or two paths that lead to the same file.
    static bool sameDevice(const QString& a, const QString& b);

    static inline const QString kSection = QStringLiteral("Ports");
    static inline const QString kAliasDir = QStringLiteral("/dev/serial/by-id");

  private:
    SettingsStore& m_store;
    Discovery m_discover;
};

} // namespace pmx
