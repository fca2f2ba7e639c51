#include "comm/PortMap.h"

#include "comm/TcpTransport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#endif

namespace pmx {

namespace {

// Orders "ttyUSB10" after "ttyUSB2": name prefix, then the trailing number.
bool kernelNameLess(const QString& a, const QString& b) {
    const auto split = [](const QString& s) {
        qsizetype i = s.size();
        while (i > 0 && s[i - 1].isDigit())
            --i;
        return std::pair<QString, qlonglong>(s.left(i), s.mid(i).toLongLong());
    };
    const auto [pa, na] = split(a);
    const auto [pb, nb] = split(b);
    return pa != pb ? pa < pb : na < nb;
}

} // namespace

PortMap::PortMap(SettingsStore& store, Discovery discover)
    : m_store(store), m_discover(discover ? std::move(discover) : Discovery(&discoverSystemPorts)) {
}

QList<SerialPortEntry> PortMap::discoverSystemPorts() {
    // Stable names for USB adapters: /dev/serial/by-id links survive re-plugging and the
    // order in which adapters were found.
    QHash<QString, QString> byId;
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    if (dir.exists()) {
        const QFileInfoList links =
            dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QFileInfo& link : links) {
            const QString target = link.canonicalFilePath();
            if (!target.isEmpty() && !byId.contains(target))
                byId.insert(target, link.absoluteFilePath());
        }
    }

    QList<SerialPortEntry> out;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        SerialPortEntry e;
        e.systemLocation = info.systemLocation();
        const QString canonical = QFileInfo(e.systemLocation).canonicalFilePath();
        e.device = byId.value(canonical.isEmpty() ? e.systemLocation : canonical, e.systemLocation);
#ifdef Q_OS_WIN
        e.device = info.portName(); // COMn is what Windows opens
#endif
        e.description = QStringList({info.manufacturer(), info.description()}).join(u' ').trimmed();
        e.usb = info.hasVendorIdentifier() || info.portName().startsWith(QLatin1String("ttyUSB")) ||
                info.portName().startsWith(QLatin1String("ttyACM"));
        out << e;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const SerialPortEntry& a, const SerialPortEntry& b) {
                         if (a.usb != b.usb)
                             return a.usb;
                         return kernelNameLess(QFileInfo(a.systemLocation).fileName(),
                                               QFileInfo(b.systemLocation).fileName());
                     });
    return out;
}

QList<SerialPortEntry> PortMap::discovered() const {
    return m_discover();
}

std::optional<int> PortMap::comNumber(const QString& name) {
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || name.size() < 4)
        return std::nullopt;
    bool ok = false;
    const int n = name.mid(3).toInt(&ok);
    if (!ok || n < 1 || !name[3].isDigit())
        return std::nullopt;
    return n;
}

PortMap::DeviceText PortMap::checkDeviceText(const QString& text) {
    if (TcpTransport::isNetworkAddress(text))
        return TcpTransport::parseAddress(text) ? DeviceText::Device
                                                : DeviceText::BadNetworkAddress;
    const bool control =
        std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20; });
#ifdef Q_OS_WIN
    // Windows names its ports: COMn, or \\.\COMn for the ones above 9.
    const QString name = text.startsWith(QLatin1String("\\\\.\\")) ? text.mid(4) : text;
    return !control && comNumber(name) ? DeviceText::Device : DeviceText::NotAPath;
#else
    if (control || !text.startsWith(u'/'))
        return DeviceText::NotAPath;
    struct stat st {};
    if (::stat(QFile::encodeName(text).constData(), &st) != 0)
        // Nothing there now is an adapter not plugged in; a name too long, a file taken
        // for a folder or a folder we may not look into can never become a device.
        return errno == ENOENT ? DeviceText::Absent : DeviceText::NotADevice;
    return S_ISCHR(st.st_mode) ? DeviceText::Device : DeviceText::NotADevice;
#endif
}

QStringList PortMap::stableNames(const QString& device, const QString& aliasDir) {
    QStringList names;
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty() || aliasDir.isEmpty())
        return names;
    const QFileInfoList links =
        QDir(aliasDir).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& link : links) {
        if (link.canonicalFilePath() == target && link.absoluteFilePath() != device)
            names << link.absoluteFilePath();
    }
    return names;
}

QString PortMap::stableName(const QString& device, const QString& aliasDir) {
    if (device.startsWith(aliasDir + u'/'))
        return device;
    const QStringList names = stableNames(device, aliasDir);
    return names.isEmpty() ? device : names.first();
}

bool PortMap::sameDevice(const QString& a, const QString& b) {
    if (a == b)
        return true;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

QString PortMap::mapping(const QString& com) const {
    return m_store.value(kSection, com.toUpper(), QString()).trimmed();
}

void PortMap::setMapping(const QString& com, const QString& device) {
    m_store.setValue(kSection, com.toUpper(), device.trimmed());
}

QString PortMap::resolve(const QString& portName) const {
    if (TcpTransport::isNetworkAddress(portName))
        return portName.trimmed();
#ifdef Q_OS_WIN
    return portName;
#else
    if (portName.startsWith(u'/'))
        return portName;
    const auto n = comNumber(portName);
    if (!n)
        return portName; // a bare device name such as "ttyUSB0"; QSerialPort adds /dev/
    const QString stored = mapping(portName);
    if (!stored.isEmpty())
        return stored;
    int seen = 0;
    for (const SerialPortEntry& e : discovered()) {
        if (e.usb && ++seen == *n)
            return e.device;
    }
    return QString();
#endif
}

} // namespace pmx
