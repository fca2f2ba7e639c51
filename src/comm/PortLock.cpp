#include "comm/PortLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace pmx {

namespace {

#ifdef Q_OS_UNIX
bool processExists(qint64 pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString processName(qint64 pid) {
#ifdef Q_OS_LINUX
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll()).trimmed();
#else
    Q_UNUSED(pid);
#endif
    return {};
}

// True when another open file holds `path` locked, as the serial port library holds its
// lock file for as long as it has the port (from before it writes its number into it).
bool lockedByOther(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // also lets go of the lock if we took it
    return held;
}
#endif

// The processes other than this one that have `device` open (Linux; elsewhere none).
QList<PortHolder> deviceOpeners(const QString& device) {
    QList<PortHolder> found;
#ifdef Q_OS_LINUX
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return found;
    // The other end of a pty (the program that serves it, such as the virtual instrument)
    // holds the master of the same number and is no competing client.
    const QString ptyNumber =
        target.startsWith(QLatin1String("/dev/pts/")) ? target.mid(9) : QString();
    const qint64 self = QCoreApplication::applicationPid();
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == self)
            continue;
        // Only the processes this user may look into: enough for the usual case, a
        // program of the same operator still running.
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        bool opened = false, servesIt = false;
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString link = QFile::symLinkTarget(fds.filePath(fd));
            if (link == target) {
                opened = true;
            } else if (!ptyNumber.isEmpty() && link.endsWith(QLatin1String("ptmx"))) {
                QFile info(proc.filePath(entry + QStringLiteral("/fdinfo/") + fd));
                if (info.open(QIODevice::ReadOnly))
                    servesIt |=
                        info.readAll().contains("tty-index:\t" + ptyNumber.toLatin1() + '\n');
            }
        }
        if (opened && !servesIt)
            found << PortHolder{pid, processName(pid)};
    }
#else
    Q_UNUSED(device);
#endif
    return found;
}

} // namespace

QString portLockFilePath(const QString& device) {
#ifdef Q_OS_UNIX
    // The name the serial port library gives the device, in the folders it looks in, in
    // its order: the first it may read where the file is, or where it may create it.
    static const char* const kFolders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                           "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                           "/var/lock/lockdev", "/run/lock"};
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString fileName = QStringLiteral("/LCK..") + name;
    for (const char* folder : kFolders) {
        const QFileInfo info{QLatin1String(folder)};
        const QString path = QLatin1String(folder) + fileName;
        if (info.isReadable() && (QFileInfo::exists(path) || info.isWritable()))
            return path;
    }
#else
    Q_UNUSED(device);
#endif
    return {};
}

PortLock inspectPortLock(const QString& path) {
    PortLock lock;
#ifdef Q_OS_UNIX
    if (path.isEmpty() || !QFileInfo::exists(path))
        return lock;
    lock.state = PortLockState::Held; // unless it shows otherwise
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lock;
    // The process number first, then (the serial port library's own) the program's and
    // the machine's names.
    const QList<QByteArray> lines = file.read(4096).split('\n');
    bool number = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&number);
    if (number && pid > 0) {
        const QString program = QString::fromLocal8Bit(lines.value(1).trimmed());
        const QString host = QString::fromLocal8Bit(lines.value(2).trimmed());
        // A process of another machine sharing the lock folder cannot be judged here.
        if (!host.isEmpty() && host != QSysInfo::machineHostName()) {
            lock.holder = {pid, program};
            return lock;
        }
        if (!processExists(pid)) {
            lock.state = PortLockState::Stale;
            return lock;
        }
        const QString name = processName(pid);
        lock.holder = {pid, name.isEmpty() ? program : name};
        return lock;
    }
    // No process named (a client killed between creating the file and writing it): stale
    // unless someone holds it locked, as its writer does from the start.
    if (!lockedByOther(path))
        lock.state = PortLockState::Stale;
#else
    Q_UNUSED(path);
#endif
    return lock;
}

bool removeStalePortLock(const QString& device) {
    const QString path = portLockFilePath(device);
    return inspectPortLock(path).state == PortLockState::Stale && QFile::remove(path);
}

QList<PortHolder> portHolders(const QString& device) {
    QList<PortHolder> holders;
    const PortLock lock = inspectPortLock(portLockFilePath(device));
    if (lock.state == PortLockState::Held && lock.holder.pid > 0 &&
        lock.holder.pid != QCoreApplication::applicationPid())
        holders << lock.holder;
    for (const PortHolder& h : deviceOpeners(device))
        if (std::none_of(holders.begin(), holders.end(),
                         [&](const PortHolder& known) { return known.pid == h.pid; }))
            holders << h;
    return holders;
}

QString portHoldersText(const QList<PortHolder>& holders) {
    QStringList parts;
    for (const PortHolder& h : holders)
        parts << (h.name.isEmpty() ? QStringLiteral("pid %1").arg(h.pid)
                                   : QStringLiteral("%1 (pid %2)").arg(h.name).arg(h.pid));
    return parts.join(QStringLiteral(", "));
}

} // namespace pmx
