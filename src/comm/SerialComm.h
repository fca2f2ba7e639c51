#pragma once
#include "comm/ByteTransport.h"
#include "comm/CommObject.h"

#include <functional>
#include <memory>

namespace pmx {

// The communication object on a serial line: frames the three protocols, sends one
// request and assembles the answer.
//
// One exchange: stale input is discarded; under Modbus the line must first be quiet (see
// below); the request is written and drained; then the instrument has the time-out, from
// the moment the last byte of the request left the port, to begin its answer, and once an
// answer has begun it gets the wire time of the longest answer at the current rate plus
// kAnswerMarginMs to finish. The response assembler ends the wait as soon as the frame is
// complete. A silent line therefore costs one time-out.
//
// An answer belongs to its request. A KORVAN answer echoes command type and data item,
// a Modbus 06 answer register and value, a Modbus 03 answer the byte count asked for: an
// answer that does not match is a late answer to an earlier request, and is discarded
// while waiting goes on. Modbus 03 and exception answers name no register, so after a
// Modbus exchange that ended without its answer (no answer, or a garbled one) the next
// request waits until the line has been quiet for one whole time-out, and every byte
// arriving meanwhile is discarded and starts the quiet again. An instrument answering up
// to twice the time-out late is thus never taken for the next item; a silent Modbus
// instrument costs two time-outs per item instead of one.
//
// Modbus station 0 is the broadcast address: a request to it is sent, never answered,
// and followed by kBroadcastTurnaroundMs of quiet so that the instruments can carry it
// out; sendCommand then returns an empty text with lastExchange().broadcast set.
//
// Under Modbus RTU the line must also have been quiet for 3.5 characters since the last
// byte received (so back-to-back exchanges only wait what is left of it). Not over a
// network connection: there the device server keeps the serial line's timing, and the
// arrival of packets says nothing of it; frame ends are found by length all the same.
//
// `maxSends` is the most times one request is sent: a further attempt is made only after a
// response arrived that was not usable as sent (a checksum or layout error on our side,
// a frame from the wrong address, or a KORVAN ESC reply saying the instrument got our
// request garbled). Silence, a NAK and a good response all end the exchange at once, so
// a silent instrument never multiplies the wait. Values below 1 mean 1; more than
// kMaxAttempts are capped. `maxSends` itself is left unchanged.
//
// Every exchange that reached the line (or found the device gone) is told to the
// observers as an ExchangeRecord when it ends, and traced to the "pmx.comm" logging
// category at debug level.
//
// When the device goes away (hang-up, unplugged adapter, I/O error), the port is closed,
// deviceLost() turns true, and this and every later exchange returns an empty text at
// once until the port is opened again.
class SerialComm : public CommObject {
  public:
    // Maps the port name to a device (see PortMap).
    using PortResolver = std::function<QString(const QString& portName)>;

    // Defaults: the port map of the user's settings store, and a transport chosen by the
    // device the port resolves to (TcpTransport for "tcp://", else SerialTransport). A
    // transport given here is used for every device.
    explicit SerialComm(std::unique_ptr<ByteTransport> transport = nullptr,
                        PortResolver resolver = {});
    ~SerialComm() override;

    void activate(bool on) override;
    bool openPort() override;
    void closePort() override;
    void resetExchange() override;
    void dropStaleInput() override;
    QByteArray sendCommand(QByteArray& address, QByteArray& subAddress, QByteArray& commandType,
                           QByteArray& dataItem, QByteArray& data, qint16& maxSends) override;
    QByteArray extractData(const QByteArray& text, qint32 n) const override;

    bool isOpen() const;
    // True when the open port is a network connection.
    bool isNetwork() const { return m_transport->isNetwork(); }

    // What happened in the last sendCommand, for diagnostics and the command line.
    struct Exchange {
        QByteArray request;  // the last frame sent
        QByteArray received; // every byte read for the last attempt
        int attempts = 0;
        bool silent = false;          // nothing complete within the time-out
        bool deviceGone = false;      // the device vanished, or the port was not open
        bool broadcast = false;       // sent to Modbus station 0: no answer is waited for
        int discardedFrames = 0;      // answers to other requests, dropped
        qsizetype discardedBytes = 0; // every byte dropped: stale input and those frames
        qint64 sentNs = 0;            // transport clock when the last attempt's request was written
    };
    const Exchange& lastExchange() const { return m_last; }

    static constexpr int kMaxAttempts = 5;
    // USB adapters hand received bytes over in batches every few milliseconds (16 ms is a
    // common latency timer), so an answer's own wire time gets this much more to arrive.
    static constexpr int kAnswerMarginMs = 20;
    // The quiet after a Modbus broadcast, the usual turnaround delay of the serial line.
    static constexpr int kBroadcastTurnaroundMs = 100;
    // Modbus RTU's silent interval of 3.5 characters of `bitsPerChar` bits (start, data,
    // parity, stop), in nanoseconds; fixed at 1.75 ms above 19200 bit/s as the serial
    // line protocol recommends.
    static qint64 rtuSilenceNs(qint32 baudRate, int bitsPerChar);

  private:
    // Waits until the line is quiet as the next request needs it: RTU's 3.5 characters,
    // one whole time-out after an exchange that ended without its answer, the broadcast
    // turnaround. False when the device went away meanwhile.
    bool waitQuietLine(int timeoutMs);
    QByteArray exchange(const QByteArray& request, qint16& maxSends);
    void notifyObservers(const QByteArray& request, const QByteArray& text, qint64 wallMs,
                         qint64 startNs);
    // Replaces the chosen transport when the device needs the other kind.
    void useTransportFor(const QString& device);
    void dropInput();
    QByteArray lose();
    void onTransportGone();

    bool m_chooseTransport = false; // no transport was given: pick one per device
    std::unique_ptr<ByteTransport> m_transport;
    PortResolver m_resolver;
    qint32 m_baud = 9600;
    int m_charBits = 10;
    qint64 m_lastRxNs = 0;        // transport clock of the last byte received (or of opening)
    qint64 m_exchangeEndNs = 0;   // when the last exchange stopped waiting
    qint64 m_turnaroundEndNs = 0; // the end of a broadcast's turnaround
    bool m_answerMissing = false; // the last Modbus exchange ended without its answer
    bool m_inExchange = false;
    bool m_active = false;
    Exchange m_last;
};

} // namespace pmx
