#pragma once
#include "comm/ByteTransport.h"
#include "comm/CommObject.h"

#include <functional>
#include <memory>

namespace pmx {

// The communication object on a serial line: frames the three protocols, sends one
// request and assembles the answer.
//
// One exchange: stale input is discarded; under Modbus RTU the line must first have been
// quiet for 3.5 characters since the last byte received (so back-to-back exchanges only
// wait what is left of it, and a line quiet for longer costs nothing); the request is
// written; bytes are collected until the response
// assembler has a complete frame, or until `Timeout` ms have passed, whichever comes
// first. A silent line therefore costs exactly one time-out.
//
// `retn` is the most times one request is sent: a further attempt is made only after a
// response arrived that was not usable as sent (a checksum or layout error on our side,
// a frame from the wrong address, or a KORVAN ESC reply saying the instrument got our
// request garbled). Silence, a NAK and a good response all end the exchange at once, so
// a silent instrument never multiplies the wait. Values below 1 mean 1; more than
// kMaxAttempts are capped. `retn` itself is left unchanged.
//
// When the device goes away (adapter unplugged), the port is closed and this and every
// later exchange returns an empty text at once until the conditions are applied again.
class SerialComm : public CommObject {
  public:
    // Maps PortName to a device (see PortMap).
    using PortResolver = std::function<QString(const QString& portName)>;

    // Defaults: a SerialTransport, and the port map of the user's settings store.
    explicit SerialComm(std::unique_ptr<ByteTransport> transport = nullptr,
                        PortResolver resolver = {});
    ~SerialComm() override;

    void Activate(bool on) override;
    bool OpenPort() override;
    void ClosePort() override;
    void PrepareA() override;
    void PrepareB() override;
    QByteArray SendCommand(QByteArray& address, QByteArray& subAddress, QByteArray& commandType,
                           QByteArray& dataItem, QByteArray& data, qint16& retn) override;
    QByteArray ExtractData(const QByteArray& text, qint32 n) const override;

    bool isOpen() const;

    // What happened in the last SendCommand, for diagnostics and the command line.
    struct Exchange {
        QByteArray request;  // the last frame sent
        QByteArray received; // every byte read for the last attempt
        int attempts = 0;
        bool silent = false;     // nothing complete within the time-out
        bool deviceGone = false; // the device vanished, or the port was not open
    };
    const Exchange& lastExchange() const { return m_last; }

    static constexpr int kMaxAttempts = 5;
    // Modbus RTU's silent interval of 3.5 characters of `bitsPerChar` bits (start, data,
    // parity, stop), in nanoseconds; fixed at 1.75 ms above 19200 bit/s as the serial
    // line protocol recommends.
    static qint64 rtuSilenceNs(qint32 baudRate, int bitsPerChar);

  private:
    bool waitRtuSilence(int limitMs);
    void dropInput();

    std::unique_ptr<ByteTransport> m_transport;
    PortResolver m_resolver;
    qint32 m_baud = 9600;
    int m_charBits = 10;
    qint64 m_lastRxNs = 0; // transport clock of the last byte received (or of opening)
    bool m_active = false;
    Exchange m_last;
};

} // namespace pmx
