#pragma once
#include "comm/ExchangeRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace pmx {

// One command for the instrument, by meaning; the codec of the protocol in effect frames
// it. Passed whole by const reference, so callers build no throw-away fields.
struct Request {
    qint16 instrument = 0;
    // "03" reads, "06" writes; KORVAN also takes its own command letters ("q" "r" "a" "b"
    // "`"), which Modbus has no frame for.
    QByteArray command = QByteArrayLiteral("03");
    QByteArray item; // four hex digits: the item, or the first register of a read
    QByteArray data; // four hex digits for a write, empty otherwise
    int count = 1;   // registers one read asks for (a Modbus block read)
    // The most times the request is sent (see SerialComm).
    qint16 maxSends = 3;

    bool isRead() const { return command == "03"; }

    static Request read(qint16 instrument, const QByteArray& item, int count = 1) {
        return make(instrument, QByteArrayLiteral("03"), item, {}, count);
    }
    static Request write(qint16 instrument, const QByteArray& item, const QByteArray& data) {
        return make(instrument, QByteArrayLiteral("06"), item, data, 1);
    }
    // Any command code, as the caller has it.
    static Request make(qint16 instrument, const QByteArray& command, const QByteArray& item,
                        const QByteArray& data = {}, int count = 1) {
        Request r;
        r.instrument = instrument;
        r.command = command;
        r.item = item;
        r.data = data;
        r.count = count;
        return r;
    }
};

// How one exchange ended, made once by the communication object. The operator's message
// ids are not part of it: the codec maps an outcome to one where it is shown.
struct ExchangeResult {
    // Good, Refused, ChecksumError (garbled), NoAnswer, Stale (only answers to earlier
    // requests came, and were dropped), DeviceLost or Broadcast; never VerifyMismatch,
    // which is a judgement about two exchanges.
    ExchangeOutcome outcome = ExchangeOutcome::NoAnswer;
    QByteArray text;     // the response text of the framing contract; empty when none
    QString refusalCode; // two hex digits for Refused
    // A good read: the registers asked, in order (filled by sendItemCommand).
    QList<qint16> values;
    // What the line showed: every byte read for the last attempt, how many of them were our own
    // request coming back (the line's echo, dropped), and answers to other requests dropped.
    QByteArray received;
    qsizetype echoBytes = 0;
    int discardedFrames = 0;

    bool good() const { return outcome == ExchangeOutcome::Good; }
    // Only our own request came back: the echo was dropped, nothing answered.
    bool echoOnly() const {
        return outcome == ExchangeOutcome::NoAnswer && echoBytes > 0 &&
               received.size() <= echoBytes;
    }
};

} // namespace pmx
