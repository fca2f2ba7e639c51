#pragma once
#include "comm/ByteTransport.h"

#include <QElapsedTimer>
#include <memory>

class QSerialPort;

namespace pmx {

// ByteTransport on QSerialPort, used blocking (waitForReadyRead / waitForBytesWritten),
// so it works in a thread that runs no event loop. Create and use it in one thread.
class SerialTransport : public ByteTransport {
  public:
    SerialTransport();
    ~SerialTransport() override;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    void discardInput() override;
    bool write(const QByteArray& bytes, int waitMs) override;
    QByteArray read(int waitMs) override;
    QByteArray readNs(qint64 waitNs) override;
    bool deviceGone() const override { return m_gone; }
    qint64 clockMs() const override { return m_clock.elapsed(); }
    qint64 clockNs() const override { return m_clock.nsecsElapsed(); }

  private:
    // Marks the span of a blocking call: faults found there are handled by checkGone().
    struct Blocking {
        explicit Blocking(bool& flag) : m_flag(flag), m_was(flag) { flag = true; }
        ~Blocking() { m_flag = m_was; }
        bool& m_flag;
        bool m_was;
    };
    static bool isLineFault(int error);
    void checkGone();

    std::unique_ptr<QSerialPort> m_port;
    QElapsedTimer m_clock;
    bool m_gone = false;
    bool m_blocking = false;
    quint64 m_generation = 0; // counts opens, so a queued close never hits a later open
};

} // namespace pmx
