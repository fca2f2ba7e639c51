#pragma once
#include "comm/CommObject.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace pmx {

// Line settings for opening a device.
struct LineSettings {
    QString device; // system path ("/dev/ttyUSB0") or Windows name ("COM3")
    qint32 baudRate = 9600;
    int dataBits = 8;  // 5..8
    int stopBits = 1;  // 1 or 2
    char parity = 'N'; // 'N', 'E', 'O'
};

// The byte transport under the communication object: the only place that touches a
// device, so framing and exchanges run unchanged over a scripted fake in tests.
// Every call returns at once or within its stated wait; nothing needs an event loop.
class ByteTransport {
  public:
    virtual ~ByteTransport() = default;

    // Opens the device; false with lastOpenError()/lastOpenErrorText() set on failure.
    virtual bool open(const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Drops everything received and not yet read.
    virtual void discardInput() = 0;
    // Writes all bytes and waits until the last of them left the port (at most waitMs),
    // so that an answer's time-out measures the instrument, not our own request on the
    // wire; false on failure.
    virtual bool write(const QByteArray& bytes, int waitMs) = 0;
    // Waits at most waitMs for input; returns what arrived (empty on silence or failure).
    virtual QByteArray read(int waitMs) = 0;
    // True once the device went away (adapter unplugged); stays true until reopened.
    virtual bool deviceGone() const = 0;
    // Monotonic milliseconds that the waits above are measured in.
    virtual qint64 clockMs() const = 0;
    // The same clock in nanoseconds, for waits shorter than a millisecond (RTU's silence
    // is 1.8 ms at 19200 bit/s); transports with a coarser clock keep the default.
    virtual qint64 clockNs() const { return clockMs() * 1000000; }
    // As read(), with the wait in nanoseconds. With 0 it does not wait, but still takes
    // what the device already holds. Coarser transports round the wait up.
    virtual QByteArray readNs(qint64 waitNs) { return read(int((waitNs + 999999) / 1000000)); }
    // True for a line reached through a network connection: its bytes arrive in packets
    // whose timing says nothing of the serial line behind, so no silence is measured.
    virtual bool isNetwork() const { return false; }

    OpenError lastOpenError() const { return m_openError; }
    QString lastOpenErrorText() const { return m_openErrorText; }

    // Called when the device goes away while nobody is waiting on it (the program idle):
    // the transport has closed it already.
    void setGoneHandler(std::function<void()> handler) { m_goneHandler = std::move(handler); }

  protected:
    std::function<void()> m_goneHandler;
    OpenError m_openError = OpenError::None;
    QString m_openErrorText;
};

} // namespace pmx
