#pragma once
// What the screenshot program needs around the windows: waiting for them, taking their
// pictures with a title bar, and the virtual instrument they talk to.
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QRect;
class QWidget;

namespace shots {

void say(const QString& text);
// Runs the event loop for `ms` milliseconds (lets windows map, lay out and paint).
void settle(int ms);
// Runs the event loop until `done` holds; false at the deadline (a hang guard only).
bool waitFor(const std::function<bool()>& done, int timeoutMs);
void waitExposed(QWidget* w);
// Without a window manager there is no title bar; draw a plain one so that the guide
// shows each window's title as the operator sees it.
QImage withTitleBar(const QPixmap& content, const QString& title);
bool copyFile(const QString& from, const QString& to);
bool writeConditions(const QString& configDir, const QString& device);

class Shooter {
  public:
    Shooter(QString dir, QString suffix) : m_dir(std::move(dir)), m_suffix(std::move(suffix)) {}

    bool shoot(QWidget* w, const QString& name);

    // A region of the screen itself (open menus are windows of their own).
    bool shootScreen(const QRect& area, const QString& name);

    bool failed() const { return m_failed; }

  private:
    QString m_dir;
    QString m_suffix;
    bool m_failed = false;
};

// The virtual instrument on a pseudo-terminal for the run.
class Instrument {
  public:
    ~Instrument() { stop(); }

    bool start(const QString& exe, const QStringList& args);

    void stop();

    QString device() const { return m_device; }
    QString error() const { return m_error; }

  private:
    QProcess m_process;
    QString m_device;
    QString m_error;
};

} // namespace shots
