#pragma once
// Who holds a serial device, and lock files their owners left behind.
//
// The serial port library keeps a lock file "LCK..name" for every device it opens (in
// the first of the usual lock folders it can use) and refuses a device whose lock file
// names a living process, or one it cannot read until the file is 30 s old. A client
// killed at the wrong moment leaves an empty one; a program of another kind writes
// only a number. Neither may keep the port from the next start once its owner is gone.
#include <QList>
#include <QString>

namespace pmx {

struct PortHolder {
    qint64 pid = 0;
    QString name; // the program's name, where the system tells it
    friend bool operator==(const PortHolder&, const PortHolder&) = default;
};

enum class PortLockState {
    None,  // no lock file
    Stale, // its owner is gone: it may be removed
    Held,  // a living process holds it (holder set when its number is known)
};

struct PortLock {
    PortLockState state = PortLockState::None;
    PortHolder holder;
};

// The lock file the serial port library uses for `device` ("/dev/ttyUSB0" gives
// ".../LCK..ttyUSB0"); empty where there is none (not Unix, no usable lock folder).
QString portLockFilePath(const QString& device);

// What the lock file at `path` says. Stale: it names a process that no longer exists,
// or names none and nobody holds it locked. A process number that is alive, or a file
// that another process holds locked, is Held.
PortLock inspectPortLock(const QString& path);

// Removes the lock file of `device` when it is stale. True when one was removed.
bool removeStalePortLock(const QString& device);

// The processes that hold `device`: its lock file's owner and, on Linux, every other
// process that has it open (as far as this user may see). This process is left out.
QList<PortHolder> portHolders(const QString& device);

// "pmx31570a-cli (pid 1234), minicom (pid 99)".
QString portHoldersText(const QList<PortHolder>& holders);

} // namespace pmx
