#pragma once
#include "comm/AnswerLedger.h"
#include "comm/Conditions.h"
#include "comm/Exchange.h"
#include "comm/Framing.h"

#include <QByteArray>
#include <optional>

namespace pmx {

// Everything one protocol knows: how a request is framed, how long its answer can be, how
// the answer is assembled and matched to its request (echo, address, function, count:
// framing::ResponseAssembler with the AnswerLedger), what its texts mean, and the line
// rules it needs. The exchange loop (SerialComm), the sequences and the finder ask the
// codec chosen from the conditions and hold no protocol branches of their own.
//
// The codecs sit on the byte helpers below them (checksums, hex, framing) and hold no
// state: one instance per protocol serves every line. A codec over another transport (a
// network header with a transaction id) matches its answers the same way, through its own
// assembler and ledger entries.
class Codec {
  public:
    virtual ~Codec() = default;

    virtual ProtocolNumber protocol() const = 0;

    // The frame of a request; empty when it cannot be framed (fields of the wrong length,
    // a command the protocol has no frame for).
    virtual QByteArray frame(const Request& request) const = 0;
    // The longest well-formed answer to a frame of ours, in characters on the wire.
    virtual qsizetype longestAnswer(const QByteArray& frame) const = 0;
    // Assembles the answer to a frame of ours; nullopt when the frame is not one.
    virtual std::optional<framing::ResponseAssembler>
    answerAssembler(const QByteArray& frame) const = 0;
    // Judges what arrives between exchanges on the line to `instrument`, so late answers
    // still settle their requests.
    virtual std::optional<framing::ResponseAssembler>
    lineAssembler(qint16 instrument, framing::AnswerLedger* ledger) const = 0;

    // What a response text says of the request with `command`: Good, Refused (with its
    // code), ChecksumError, or NoAnswer for an empty text.
    virtual ExchangeOutcome judge(const QByteArray& text, const QByteArray& command,
                                  QString* refusalCode) const = 0;
    // The n-th data field (four hex digits) of a good read response; empty when none.
    virtual QByteArray extractData(const QByteArray& text, qint32 n) const = 0;
    // The operator's message id of a failed exchange (100 to 103); 0 for a good one.
    virtual int messageId(ExchangeOutcome outcome) const = 0;

    // Broadcasts: a request to `instrument` reaches every instrument and none answers.
    virtual bool broadcastsTo(qint16 instrument) const {
        Q_UNUSED(instrument);
        return false;
    }
    bool isBroadcast(const QByteArray& frame) const;
    // The station byte or address character of a frame of ours.
    virtual int stationOf(const QByteArray& frame) const = 0;

    // Character framings an instrument of this protocol can be set to, likeliest first; the
    // first `common` are those its instruments mostly use (for the instrument search).
    struct CharFraming {
        int dataBits;
        Parity parity;
        int stopBits;
    };
    struct Framings {
        QList<CharFraming> list;
        int common;
    };
    virtual Framings framings() const = 0;

    // Line rules. Before each request the line must be quiet (a broadcast's turnaround, the
    // silent interval between frames).
    virtual bool waitsForQuietLine() const { return false; }
    // The silent interval between frames on a serial line, in nanoseconds; 0: none.
    virtual qint64 frameGapNs(qint32 baudRate, int bitsPerChar) const {
        Q_UNUSED(baudRate);
        Q_UNUSED(bitsPerChar);
        return 0;
    }
    // An exchange that ended without its answer leaves the line owing one that names no
    // request: the next request waits for a quiet line.
    virtual bool missLeavesAnswerOwed() const { return false; }
    // A complete answer that says the instrument got the request garbled: send again.
    virtual bool asksAgain(const QByteArray& text) const {
        Q_UNUSED(text);
        return false;
    }

    // Reads that can be proven after a miss (see SerialComm): the window a read asks for
    // instead when its count is in use; nullopt when none is needed or the protocol
    // needs none.
    virtual std::optional<framing::AnswerLedger::Window>
    provableWindow(const framing::AnswerLedger& ledger, const QByteArray& frame,
                   int maxCount) const;
    // The frame that reads `window` for the read `frame`.
    virtual QByteArray windowFrame(const QByteArray& frame,
                                   const framing::AnswerLedger::Window& window) const;
    // A window's answer cut down to the `count` registers asked.
    virtual QByteArray narrowAnswer(const QByteArray& text, int offset, int count) const;
    // The registers a read frame asks for (0: not a read).
    virtual int readCount(const QByteArray& frame) const;
    // A refusal of a read: whether it refused the count itself (so a smaller one may do).
    virtual bool refusesCount(const QByteArray& text) const;
    // Whether a refusal came instead of a good answer.
    bool isRefusal(const QByteArray& text) const;
    // A write whose single copy came back while the line's echo is not known: the read of
    // the written register that tells echo from answer; empty when the protocol's answers
    // never equal their requests.
    virtual QByteArray echoProbe(const QByteArray& write) const;
};

// The codec of a protocol number; nullptr for one the program does not speak. Codecs are
// stateless and live for the whole run.
const Codec* codecFor(ProtocolNumber protocol);

} // namespace pmx
