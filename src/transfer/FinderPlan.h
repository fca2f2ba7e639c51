#pragma once
#include "comm/Conditions.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace pmx {

// The line settings of one try.
struct LineSetting {
    qint32 rate = 9600;
    int dataBits = 7;
    Parity parity = Parity::Even;
    int stopBits = 1;

    bool operator==(const LineSetting&) const = default;
    // Start, data, parity and stop bits of one character.
    int bitsPerChar() const { return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits; }
};
LineSetting lineOf(const Conditions& conditions);
// "9600 7E1"
QString lineSettingText(const LineSetting& line);

// One try of the search: which device, protocol, line settings and instrument.
struct ProbeTarget {
    QString port; // what is opened: a device path, a COMn on Windows, or tcp://HOST:PORT
    ProtocolNumber protocol = kProtocolKorvan;
    LineSetting line;
    qint16 instrument = 0;

    bool operator==(const ProbeTarget&) const = default;
};
// "/dev/ttyUSB0, Modbus ASCII, 4800 7E2, instrument 17" in the run's language.
QString probeTargetText(const ProbeTarget& target);

// How long a try waits for the first byte of an answer by default, beyond the time its
// request and one character need on the wire: the instrument's turnaround and a USB
// adapter's latency timer.
inline constexpr int kDefaultAnswerWaitMs = 80;
inline constexpr int kMinAnswerWaitMs = 20;
inline constexpr int kMaxAnswerWaitMs = 2000;

// What the search tries.
struct FinderOptions {
    QStringList ports;               // devices, the one in effect first
    QList<ProtocolNumber> protocols; // in this order; empty: all three
    Conditions inEffect;             // its protocol, line settings and instrument go first
    bool allInstruments = false;     // also 1..95, and 0 under KORVAN
    QList<qint16> instruments;       // instead of the two above: these, the first one first
    bool stopAtFirst = true;         // end at the first instrument found
    int answerWaitMs = kDefaultAnswerWaitMs;
};

// The protocols of the options in their order, the one in effect first.
QList<ProtocolNumber> protocolOrder(const FinderOptions& options);
// The line settings a protocol can use, likeliest first: the rates the dialog offers and
// every data bit, parity and stop bit entry, except that Modbus RTU needs 8 data bits
// (its bytes use all of them).
QList<LineSetting> lineSettingsFor(ProtocolNumber protocol);
// Instrument numbers for a protocol: [0] is the first pass, the rest follow after every
// protocol and port had its first pass. Modbus station 0 is the broadcast address, which
// nobody answers: it is never tried, and 1 stands in for an instrument number 0 in effect.
QList<qint16> instrumentsFor(ProtocolNumber protocol, const FinderOptions& options);

// The probe's time-out: the answer wait plus the wire time of the read request and one
// more character at the try's rate (over a device server the request only starts on the
// line once it has left us).
int probeTimeoutMs(const ProbeTarget& target, int answerWaitMs);
// What one silent try costs at most: its time-out, the request on the wire, Modbus RTU's
// silence before it and opening the port.
int probeCostMs(const ProbeTarget& target, int answerWaitMs);

// The order of the tries. It starts with the conditions in effect; then, per instrument
// pass, per port and per protocol, every line setting the protocol uses, likeliest
// first. What the tries come to moves the likely ones forward.
class FinderPlan {
  public:
    explicit FinderPlan(const FinderOptions& options);

    int done() const { return m_done; }
    // Tries done and tries left; shrinks when an instrument is found or a port fails.
    int total() const { return m_done + int(m_pending.size()); }
    bool atEnd() const { return m_pending.isEmpty(); }
    const QList<ProbeTarget>& pending() const { return m_pending; }
    int answerWaitMs() const { return m_answerWaitMs; }

    // Takes the next try.
    ProbeTarget next();
    // An answer that could not be read, or bytes that formed no frame: something speaks
    // at this rate with other bits or parity. On the same port, the tries at this rate
    // go first in every group of protocol and instrument, this try's group first.
    void garbled(const ProbeTarget& target);
    // An instrument answered. With stopAtFirst the plan ends; otherwise the port is taken
    // to carry one protocol and one set of line settings, so only the other instrument
    // numbers with them are still tried there.
    void found(const ProbeTarget& target);
    // The device did not open: nothing more is tried on it.
    void portFailed(const QString& port);
    // The time the tries left take if nothing answers.
    qint64 worstCaseMs() const;

  private:
    QList<ProbeTarget> m_pending;
    int m_done = 0;
    int m_answerWaitMs = kDefaultAnswerWaitMs;
    bool m_stopAtFirst = true;
};

// "about 2 min 10 s" as the dialog and the command line state a duration.
QString durationText(qint64 ms);

} // namespace pmx
