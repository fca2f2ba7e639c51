#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

namespace pmx {

// How one exchange on the line ended, as the operator needs to tell them apart.
enum class ExchangeOutcome {
    Good,          // the answer to the request
    Refused,       // KORVAN NAK or Modbus exception (code in refusalCode)
    ChecksumError, // an answer arrived but was garbled (or KORVAN ESC: ours was)
    NoAnswer,      // nothing usable within the time-out
    Stale,         // no answer of its own; answers to earlier requests were dropped
    DeviceLost,    // the device went away
    Broadcast,     // sent to Modbus station 0: never answered, not confirmed
    // A read-back after a write (verify after writing) answered with another value than
    // was written: the line worked, the instrument did not keep the value.
    VerifyMismatch,
};

// One exchange: what went out, what came back, and how it ended.
struct ExchangeRecord {
    qint64 timeMs = 0; // wall clock, milliseconds since the epoch, when it began
    qint16 protocol = 0;
    QByteArray request; // the last frame sent
    QByteArray answer;  // every byte read for the last attempt, as it came
    ExchangeOutcome outcome = ExchangeOutcome::NoAnswer;
    QString refusalCode; // two hex digits for Refused
    int attempts = 0;
    int discardedFrames = 0;
    qsizetype discardedBytes = 0; // stale input and dropped frames
    qsizetype echoBytes = 0;      // the request, come back as it was sent (the line's echo)
    double lateMs = -1;           // a stale answer seen, this long after its request (past
                                  // its time-out); -1: none
    double roundTripMs = 0;
    qint16 wrote = 0; // VerifyMismatch: the value written
    qint16 holds = 0; // VerifyMismatch: the value read back
};

// What a request frame asks for: read or write, the item, the value written.
struct RequestMeaning {
    bool valid = false;
    bool write = false;
    int station = -1; // instrument number
    int item = -1;
    int count = 1; // registers of a Modbus read
    std::optional<qint16> value;
};
RequestMeaning describeRequest(qint16 protocol, const QByteArray& frame);

// "02 21 20 …": every byte as two hex digits.
QString hexBytes(const QByteArray& bytes);
// The bytes as characters, control characters named: "<STX>! 0044<ETX>2C". Modbus RTU
// frames are binary, where such a byte is a number, never a control: there every byte
// outside printable ASCII shows as ".".
QString printableBytes(const QByteArray& bytes, qint16 protocol);
// A short English name of an outcome, for the trace ("good", "NAK 03", "exception 02",
// "checksum error", "no answer", "stale", "device lost", "broadcast",
// "verify mismatch (wrote 1500, holds 1000)").
QString outcomeName(const ExchangeRecord& record);
// One line of the trace: time, protocol, meaning, request, answer, outcome, tries, time.
QString traceLine(const ExchangeRecord& record);

// Whoever wants to see every exchange: the monitor window, the command line's trace.
class ExchangeObserver {
  public:
    virtual ~ExchangeObserver() = default;
    virtual void exchanged(const ExchangeRecord& record) = 0;
    // The exchange reported last read `item` back after a write (verify after writing) and
    // found `holds` where `wrote` was written: that exchange is a VerifyMismatch.
    virtual void readBackDiffers(int item, qint16 wrote, qint16 holds) {
        Q_UNUSED(item);
        Q_UNUSED(wrote);
        Q_UNUSED(holds);
    }
};

// The last `capacity` exchanges and counters over all of them, so that a day of work
// costs bounded memory.
class ExchangeLog : public ExchangeObserver {
  public:
    explicit ExchangeLog(qsizetype capacity = 10000) : m_capacity(capacity) {}

    void exchanged(const ExchangeRecord& record) override;
    // Marks the newest record when it is a good read of `item`; counted as a mismatch then.
    void readBackDiffers(int item, qint16 wrote, qint16 holds) override;
    void clear();

    qsizetype size() const { return qsizetype(m_records.size()); }
    const ExchangeRecord& at(qsizetype i) const { return m_records[size_t(i)]; }
    qsizetype capacity() const { return m_capacity; }
    // Records dropped from the front since the last clear, so a view can keep its rows.
    qint64 dropped() const { return m_dropped; }
    // How many records readBackDiffers has changed since the log was made, so a view
    // knows to redraw rows it already shows.
    qint64 marks() const { return m_marks; }

    struct Counters {
        qint64 exchanges = 0, good = 0, refused = 0, checksum = 0, noAnswer = 0, lost = 0,
               broadcast = 0, verifyMismatch = 0, discardedBytes = 0;
        double latestLateMs = -1; // the latest answer after its time-out (-1: none)
        bool echoed = false;      // a request came back as it was sent: the line echoes
    };
    const Counters& counters() const { return m_counters; }

    // Called after each record is added (the window refreshes its view).
    std::function<void()> onChanged;

  private:
    qsizetype m_capacity;
    std::deque<ExchangeRecord> m_records;
    qint64 m_dropped = 0;
    qint64 m_marks = 0;
    Counters m_counters;
};

} // namespace pmx
