#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

namespace pmx::sim {

enum class Protocol { Korvan, ModbusAscii, ModbusRtu };

// Short protocol name as used on the command line and in the log ("korvan", "ascii", "rtu").
QString protocolName(Protocol protocol);

enum class FaultKind {
    None,
    Nak,      // KORVAN NAK / Modbus exception with the fault's code
    BadSum,   // the right response with its BCC, LRC or CRC spoiled
    Silent,   // no answer at all
    ReadOnly, // reads work, writes are refused (NAK "03" / exception 03)
    Garbage,  // bytes that form no frame instead of the response
    Delay,    // the right response, late by delayMs
    Echo,     // a well-formed response naming echoItem instead (an answer to another request)
    Clamp,    // a write is acknowledged, but the value kept is limited to minValue..maxValue
    Ignore,   // a write is acknowledged, but the value is left as it was
};

struct Fault {
    FaultKind kind = FaultKind::None;
    int code = 4;     // Nak: KORVAN error code / Modbus exception code
    int delayMs = 0;  // Delay
    int echoItem = 0; // Echo
    int minValue = 0; // Clamp
    int maxValue = 0; // Clamp
};

// The value an item keeps when `written` is written to it while it holds `held`.
std::int16_t keptValue(const Fault& fault, std::int16_t held, std::int16_t written);

// What the instrument does about one delimited request (or about bytes it dropped).
struct Reply {
    QByteArray bytes;       // to send; empty when nothing is answered
    int delayMs = 0;        // wait this long before the first byte goes out
    int requestBytes = 0;   // length of the request on the wire (for pacing)
    QString logLine;        // one line for --log, without line end
    bool addressed = false; // a request for this instrument or a Modbus broadcast
};

inline constexpr int kItemCount = 128;

// The default memory: item i holds 100 * i - 1 (item 0 is -1 = FFFF, item 0044h is 6799).
std::int16_t defaultValue(int item);

// The bytes sent by the "garbage" fault: no lead character, start character or station
// address of any protocol, so a client can only discard them.
QByteArray garbageBytes();

// One virtual instrument: 128 registers, a fault table and a request delimiter for one
// protocol. Bytes from the line go in through feed(); every request that completes gives
// one Reply. Pure logic: no file descriptors, no clocks.
class Instrument {
  public:
    Instrument(Protocol protocol, int instrumentNo);

    Protocol protocol() const { return m_protocol; }
    int instrumentNo() const { return m_instrumentNo; }

    std::int16_t value(int item) const { return m_values.at(std::size_t(item)); }
    void setValue(int item, std::int16_t value) { m_values.at(std::size_t(item)) = value; }
    void setFault(int item, Fault fault) { m_faults.at(std::size_t(item)) = fault; }
    Fault fault(int item) const { return m_faults.at(std::size_t(item)); }
    // Block faults of function 03 (reads of more than one register): a block spanning
    // `item` gets exception 02 while a read of the item alone is answered; a count above
    // `maxCount` gets exception 03.
    void setRefuseSpan(int item) { m_refuseSpan.at(std::size_t(item)) = true; }
    void setMaxCount(int maxCount) { m_maxCount = maxCount; }
    // Never answers anything (requests are still logged).
    void setSilent(bool silent) { m_silent = silent; }
    // Item names for the log (a model definition file's names); missing names are blank.
    void setItemNames(const QStringList& names) { m_names = names; }

    // Bytes received from the line. Returns one Reply per request completed by them, plus
    // a Reply without bytes for every run of bytes that could not be delimited.
    std::vector<Reply> feed(const QByteArray& bytes);
    // The line has been silent for 3.5 characters: ends a Modbus RTU frame that could not
    // be delimited by its length (KORVAN and ASCII resynchronise on their start character).
    std::vector<Reply> lineIdle();
    // Bytes received that are not yet part of a delimited request.
    int pendingBytes() const { return int(m_buffer.size()); }
    // The line went down: a request half received is lost.
    void discardPending() { m_buffer.clear(); }

  private:
    void feedKorvan(std::vector<Reply>& out);
    void feedAscii(std::vector<Reply>& out);
    void feedRtu(std::vector<Reply>& out, bool lineIdle);

    Reply korvanRequest(const QByteArray& frame);
    // A delimited Modbus request for `station`: ignored, served, or (station 0) carried out
    // without an answer.
    Reply modbusStation(int station, const QByteArray& pdu, int requestBytes);
    // Modbus PDU (function and data) to serve: the reply with the response frame.
    Reply modbusRequest(const QByteArray& pdu, int requestBytes);
    QByteArray modbusFrame(const QByteArray& pdu) const;
    Reply dropped(int count, const QString& why) const;
    // Drops what comes before the first `start` byte (all of it when there is none, and then
    // false): a frame can only begin there.
    bool skipToFrameStart(char start, const QString& why, std::vector<Reply>& out);
    QString nameSuffix(int item) const;
    Reply finish(Reply reply, int item, const QString& what, const QByteArray& response,
                 const QString& outcome, bool spoilable);

    Protocol m_protocol;
    int m_instrumentNo;
    bool m_silent = false;
    bool m_broadcast = false; // the Modbus request being served came for station 0
    std::array<std::int16_t, kItemCount> m_values{};
    std::array<Fault, kItemCount> m_faults{};
    std::array<bool, kItemCount> m_refuseSpan{};
    int m_maxCount = 125;
    QStringList m_names;
    QByteArray m_buffer;
};

} // namespace pmx::sim
