#include "SimPty.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace pmx::sim {

bool openPty(Pty* pty) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pmx31570a-sim: pseudo-terminal");
        return false;
    }
    const char* slaveName = ptsname(master);
    if (!slaveName) {
        std::perror("pmx31570a-sim: ptsname");
        ::close(master);
        return false;
    }
    const QByteArray slavePath(slaveName);
    // Holding the slave open ourselves keeps the master from reporting hang-up (and poll
    // from spinning on it) whenever no client has the device open.
    const int slave = ::open(slavePath.constData(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("pmx31570a-sim: open slave");
        ::close(master);
        return false;
    }
    // Raw from the start: no echo of the answers back to us, no CR/LF translation of
    // Modbus ASCII frames, all 8 bits of RTU bytes.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    *pty = Pty{master, slave, slavePath};
    return true;
}

void closePty(Pty* pty) {
    ::close(pty->master);
    ::close(pty->slave);
    *pty = Pty{};
}

bool makeLink(const QString& linkPath, const QByteArray& target) {
    const QByteArray link = QFile::encodeName(linkPath);
    struct stat st {};
    // Replace a stale link of an earlier run, never a real file.
    if (lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(link.constData());
    if (symlink(target.constData(), link.constData()) != 0) {
        std::perror("pmx31570a-sim: --link");
        return false;
    }
    return true;
}

void removeLink(const QString& linkPath) {
    if (!linkPath.isEmpty())
        ::unlink(QFile::encodeName(linkPath).constData());
}

bool clientLine(int slave, int* rate, int* stopBits) {
    termios tio{};
    if (slave < 0 || tcgetattr(slave, &tio) != 0)
        return false;
    static const struct {
        speed_t code;
        int rate;
    } kRates[] = {{B50, 50},         {B75, 75},        {B110, 110},     {B134, 134},
                  {B150, 150},       {B200, 200},      {B300, 300},     {B600, 600},
                  {B1200, 1200},     {B1800, 1800},    {B2400, 2400},   {B4800, 4800},
                  {B9600, 9600},     {B19200, 19200},  {B38400, 38400}, {B57600, 57600},
                  {B115200, 115200}, {B230400, 230400}};
    const speed_t code = cfgetospeed(&tio);
    *rate = 0;
    for (const auto& r : kRates)
        if (r.code == code)
            *rate = r.rate;
    *stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return true;
}

} // namespace pmx::sim
