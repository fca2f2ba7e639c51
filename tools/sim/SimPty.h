#pragma once
// The pseudo-terminal the virtual instrument serves on (POSIX only).
#include <QByteArray>
#include <QString>

namespace pmx::sim {

struct Pty {
    int master = -1;
    int slave = -1;
    QByteArray path;
};

// A new pseudo-terminal in raw mode, the master non-blocking; false with a message.
bool openPty(Pty* pty);
// Closing the master is the hang-up every client of the slave sees.
void closePty(Pty* pty);
// A symbolic link to the device (a stale link of an earlier run is replaced, never a
// real file); false with a message.
bool makeLink(const QString& linkPath, const QByteArray& target);
void removeLink(const QString& linkPath);
// The rate and stop bits a client last set on the pseudo-terminal (the slave side holds
// them); false when they cannot be read.
bool clientLine(int slave, int* rate, int* stopBits);

} // namespace pmx::sim
