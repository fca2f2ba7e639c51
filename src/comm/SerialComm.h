#pragma once
#include "comm/AnswerLedger.h"
#include "comm/ByteTransport.h"
#include "comm/CommObject.h"
#include "comm/Framing.h"

#include <functional>
#include <memory>
#include <optional>

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
// An answer belongs to its request, at any lateness. Every request that goes out is kept
// on a ledger (framing::AnswerLedger) until an answer settles it; an instrument handles one
// request at a time and answers in order, each at most once. What an answer carries names
// the requests that could have drawn it: a KORVAN answer its command type and item, a
// Modbus 06 answer register and value, a Modbus 03 answer its byte count, an exception
// only its function. An answer is taken when no unsettled request but the one in hand
// could have drawn it; it then settles every earlier request (their answers came and were
// dropped, or never will). An answer only earlier requests could have drawn is stale: it
// settles them and is dropped, and waiting goes on. One that the request in hand and an
// earlier one could both have drawn is not taken: it settles the earlier one, and the
// request is sent again once its time-out has passed with no other answer (the next answer
// can then only be this request's). A frame of ours that no request on the line could
// have drawn is malformed and fails the attempt at once (a block read answered with
// another byte count, a write answered for another register). Bytes that arrive between
// exchanges are judged the same way, so an answer that comes while nobody waits still
// settles its request.
// So that a Modbus read is provable after a miss, a read whose register count an unsettled
// read used asks instead for a window of registers around those wanted whose count no
// unsettled read used (the first free count above it; the wanted registers are then cut
// out of the answer, so the caller sees the answer it asked for). When the instrument
// refuses the window, the refusal is not the item's: the read is made again as asked.
// After a window went unanswered, the next read that would need one is sent as asked, and
// when the instrument answers that one, windows are not asked for again on this port (an
// instrument that ignores reads of more than one register); such reads, like a KORVAN item
// asked again and a write repeated with the same value, rely on sending again as above.
// Answers that came after their time-out teach how late the instrument answers
// (CommObject::lateAnswerMs).
//
// Many two-wire adapters send every request back as it goes out. Our request coming back
// byte for byte is that echo, never an answer; a Modbus 06 answer is byte for byte its
// request, so a write's copy counts as its answer only once the line is known not to echo
// (a read answered with no copy before it), and as its echo on a line known to echo. When
// a write's single copy comes back while that is not known, one read of the written
// register, told to the observers like any exchange, shows whether the line echoes (at
// most once per port opening): if it does, the write had no answer.
//
// Modbus 03 and exception answers name no register, so after a Modbus exchange that
// ended without its answer (no answer, or a garbled one) the next request also waits
// until the line has been quiet for one whole time-out, and every byte arriving meanwhile
// is judged as above and starts the quiet again: a late answer then usually settles its
// request before the next one goes out. A silent Modbus instrument costs two time-outs
// per item instead of one. In every protocol an exchange that saw answers to earlier
// requests is followed by the same quiet: the instrument is behind, and each of its
// answers would otherwise come in the next request's time (a silent line never shows
// such answers, so a silent KORVAN instrument still costs one time-out per item).
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
// a frame from the wrong address, a KORVAN ESC reply saying the instrument got our
// request garbled, or an answer that an earlier request could equally have drawn).
// Silence, a NAK and a good response all end the exchange at once, so a silent instrument
// never multiplies the wait. Values below 1 mean 1; more than kMaxAttempts are capped.
// `maxSends` itself is left unchanged.
//
// The ledger and what the line showed of itself are kept while the port is opened again
// on the same device with the same line settings; other settings start a new line.
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
    ExchangeResult sendCommand(const Request& request) override;
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
        qsizetype echoBytes = 0;      // our request, come back as it was sent (last attempt)
        double lateMs = -1; // the latest stale answer after its request, past its time-out
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
    // The most registers one function-03 request may ask for.
    static constexpr int kMaxReadCount = 125;

  private:
    enum class Sent { Written, NotWritten, Lost };
    // Stale bytes found on the line when an exchange begins are timed only when the line
    // was heard this recently: otherwise when they came is not known.
    static constexpr qint64 kStaleTimingNs = 20000000;

    // Waits until the line is quiet as the next request needs it: RTU's 3.5 characters,
    // one whole time-out while the line may owe answers, the broadcast turnaround. False
    // when the device went away meanwhile.
    bool waitQuietLine(int timeoutMs);
    QByteArray exchange(const QByteArray& request, qint16 maxSends);
    // The result of the exchange just made, from its response text: made once, told to
    // the observers and returned.
    ExchangeResult judged(const Request& request, const QByteArray& text) const;
    // One attempt: waits for the line, writes `request` (kept on the ledger as `id`) and
    // assembles what comes until the answer, a corrupt frame or the time-out.
    Sent attempt(const QByteArray& request, quint64 id, bool broadcast, int timeoutMs);
    // A write's single copy came back while the line's echo is not known: one read of the
    // written register shows it. True when the copy was the write's answer.
    bool copyWasAnswer(const QByteArray& write, quint64 id);
    // The window a function-03 request asks for instead, when its count is in use.
    std::optional<framing::AnswerLedger::Window> provableWindow(const QByteArray& request) const;
    // Bytes that came outside an answer's wait: judged, so that late answers settle their
    // requests. `arrivedNs` -1 when it is not known when they came.
    void judgeStale(const QByteArray& bytes, qint64 arrivedNs);
    void noteLate(qint64 lateNs);
    // Whether an opening of `line` continues the line the ledger belongs to.
    void startLine(const QString& line, const QString& device);
    void notifyObservers(const QByteArray& request, const ExchangeResult& result, qint64 wallMs,
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
    // The line may still owe answers: the last Modbus exchange ended without its answer,
    // or an exchange saw answers to earlier requests (the instrument is behind).
    bool m_answerMissing = false;
    bool m_inExchange = false;
    framing::AnswerLedger m_ledger; // the requests not yet settled, and the line's echo
    std::optional<framing::ResponseAssembler> m_assembler; // the attempt under way
    std::optional<framing::ResponseAssembler> m_between;   // stale frames outside a wait
    quint64 m_requestIds = 0;
    QString m_line;             // device and line settings the ledger belongs to
    QString m_echoDevice;       // the device the echo was learned on
    bool m_echoProbed = false;  // the one read that shows the echo was made
    bool m_windowsOff = false;  // the instrument does not answer reads of windows
    quint64 m_windowMissed = 0; // the last read of a window got no answer (request id)
    QByteArray m_lastFrame;     // the last frame judged, when nothing came or went out after it
    bool m_active = false;
    Exchange m_last;
};

} // namespace pmx
