#include "ShotSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTextStream>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <QtMath>

#include <cstdio>

namespace shots {

void say(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Runs the event loop for `ms` milliseconds (lets windows map, lay out and paint).
void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// Runs the event loop until `done` holds; false at the deadline (a hang guard only).
bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void waitExposed(QWidget* w) {
    waitFor([w] { return w->windowHandle() && w->windowHandle()->isExposed(); }, 5000);
    settle(250);
}

// Without a window manager there is no title bar; draw a plain one so that the guide
// shows each window's title as the operator sees it.
QImage withTitleBar(const QPixmap& content, const QString& title) {
    // Drawn in the window's own units, at the screen's scale (150 %: 1.5 pixels each).
    const qreal scale = content.devicePixelRatio();
    const QSizeF size = content.deviceIndependentSize();
    const int barHeight = 28;
    QImage out(qCeil((size.width() + 2) * scale), qCeil((size.height() + barHeight + 1) * scale),
               QImage::Format_RGB32);
    out.setDevicePixelRatio(scale);
    out.fill(QColor(0x5a, 0x6b, 0x7d));
    QPainter p(&out);
    QLinearGradient grad(0, 0, 0, barHeight);
    grad.setColorAt(0, QColor(0x6f, 0x82, 0x96));
    grad.setColorAt(1, QColor(0x4c, 0x5c, 0x6d));
    p.fillRect(QRectF(0, 0, size.width() + 2, barHeight), grad);
    QFont f = QApplication::font();
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(10, 0, size.width() - 18, barHeight), Qt::AlignVCenter | Qt::AlignLeft,
               title);
    p.drawPixmap(1, barHeight, content);
    p.end();
    return out;
}

bool copyFile(const QString& from, const QString& to) {
    QFile::remove(to);
    if (!QFile::copy(from, to)) {
        say(QStringLiteral("cannot copy %1 to %2").arg(from, to));
        return false;
    }
    QFile::setPermissions(to, QFile::permissions(to) | QFile::WriteOwner);
    return true;
}

bool writeConditions(const QString& configDir, const QString& device) {
    QFile f(configDir + QStringLiteral("/KORVAN DELTRIS.conf"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&f);
    out << "[DKR4073]\n"
           "Protocol=KORVAN\n"
           "DevNo=1\n"
           "Speed=9600\n"
           "Databit=7 bit\n"
           "Stopbit=1 bit\n"
           "Party=EVEN\n"
           "Port=COM1\n"
           "Timout=300\n"
           "\n"
           "[Ports]\n"
        << "COM1=" << device << "\n";
    return out.status() == QTextStream::Ok;
}

bool Shooter::shoot(QWidget* w, const QString& name) {
    if (!w) {
        say(QStringLiteral("no window for %1").arg(name));
        m_failed = true;
        return false;
    }
    waitExposed(w);
    // The title as the window system shows it: "[*]" is the changed table's mark.
    QString title = w->windowTitle();
    title.replace(QStringLiteral("[*]"), w->isWindowModified() ? QStringLiteral("*") : QString());
    const QImage image = withTitleBar(w->grab(), title);
    const QString path = QDir(m_dir).filePath(name + m_suffix + QStringLiteral(".png"));
    if (!image.save(path)) {
        say(QStringLiteral("cannot write %1").arg(path));
        m_failed = true;
        return false;
    }
    say(QStringLiteral("wrote %1 (%2x%3)").arg(path).arg(image.width()).arg(image.height()));
    return true;
}

bool Shooter::shootScreen(const QRect& area, const QString& name) {
    settle(300);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap pix =
        screen ? screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()) : QPixmap();
    const QString path = QDir(m_dir).filePath(name + m_suffix + QStringLiteral(".png"));
    if (pix.isNull() || !pix.save(path)) {
        say(QStringLiteral("cannot write %1").arg(path));
        m_failed = true;
        return false;
    }
    say(QStringLiteral("wrote %1").arg(path));
    return true;
}

bool Instrument::start(const QString& exe, const QStringList& args) {
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(exe, args);
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(exe, m_process.errorString());
        return false;
    }
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n')) {
        if (m_process.state() != QProcess::Running && m_process.bytesAvailable() == 0) {
            m_error = QStringLiteral("the instrument ended: %1")
                          .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
            return false;
        }
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("no device path from the instrument");
            return false;
        }
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
    }
    m_device = QString::fromLocal8Bit(out.left(out.indexOf('\n')).trimmed());
    return !m_device.isEmpty();
}

void Instrument::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

} // namespace shots
