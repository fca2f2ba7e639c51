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
    void checkGone();

    std::unique_ptr<QSerialPort> m_port;
    QElapsedTimer m_clock;
    bool m_gone = false;
};

} // namespace pmx
