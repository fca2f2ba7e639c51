#pragma once
#include "comm/AnswerLedger.h"

#include <QByteArray>
#include <QList>
#include <memory>
#include <optional>

namespace pmx::framing {

inline constexpr char kStx = '\x02';
inline constexpr char kEtx = '\x03';
inline constexpr char kAck = '\x06';
inline constexpr char kNak = '\x15';
inline constexpr char kEsc = '\x1B';

// KORVAN request: STX, address, sub-address, command type, data item (4), data (0 or 4),
// ETX, BCC as two hex digits over address..ETX. Empty when the fields do not have those
// lengths or carry control characters that would break the delimiting.
QByteArray korvanRequest(const QByteArray& address, const QByteArray& subAddress,
                         const QByteArray& commandType, const QByteArray& dataItem,
                         const QByteArray& data);

// Binary Modbus message (address, function, data) from the hex text fields sendItemCommand
// prepares: address "0A", command "03"/"06", data item "00440001" or "0044", data ""
// or "FFFF". The sub-address has no place in a Modbus frame and is not taken.
// nullopt when a field is not whole pairs of hex digits or address/function are missing.
std::optional<QByteArray> modbusMessage(const QByteArray& address, const QByteArray& function,
                                        const QByteArray& dataItem, const QByteArray& data);
// ":" + hex pairs (upper case) + LRC + CR LF.
QByteArray modbusAsciiFrame(const QByteArray& message);
// message + CRC-16, low-order byte first.
QByteArray modbusRtuFrame(const QByteArray& message);
// Whether the response to an RTU function code can be delimited by its content
// (01-04 carry a byte count, 05/06/0F/10 have a fixed length).
bool rtuFunctionSupported(quint8 function);

// The request frame for a protocol number (0, 2, 3); empty when it cannot be built.
QByteArray buildRequest(qint16 protocolNo, const QByteArray& address, const QByteArray& subAddress,
                        const QByteArray& commandType, const QByteArray& dataItem,
                        const QByteArray& data);

// The longest well-formed answer to a request frame, in characters on the wire; 0 when
// the request is not one buildRequest makes.
qsizetype maxResponseLength(qint16 protocolNo, const QByteArray& request);

// The Modbus message (address, function, data, without checksum) of a request frame;
// empty when it is not one.
QByteArray requestMessage(qint16 protocolNo, const QByteArray& frame);
// A function-03 request frame for `count` registers from `start` to `station`.
QByteArray modbusReadFrame(qint16 protocolNo, char station, int start, int count);
// A Modbus 03 answer text cut down to `count` registers from the `offset`-th: the answer
// the request for those registers alone would have had. Empty when the text holds fewer.
QByteArray narrowReadAnswer(const QByteArray& text, int offset, int count);

// extractData: KORVAN read ACK -> characters 9..12; Modbus 03 response text -> the n-th
// register's four hex digits. Empty when the text is not such a response.
QByteArray extractData(const QByteArray& text, qint32 n);

// Assembles one response from arriving bytes and knows when it is complete, so an
// exchange never waits for the time-out to find the end of a frame.
//  - KORVAN: skips bytes until ACK/NAK/ESC, ends two characters after ETX. Complete
//    gives the frame as received; a frame whose BCC is wrong, whose address does not
//    echo the request or whose layout is wrong is Corrupt, with the text starting with
//    ESC so that it is reported as a checksum error.
//  - Modbus ASCII: ':' .. CR LF. A frame from another station is ignored (another
//    instrument may share the line) and waiting continues; a bad LRC or undecodable
//    frame is Corrupt. The text is the frame, hex digits in upper case.
//  - Modbus RTU: the length follows from the function code, byte count and exception
//    bit; garbage before the frame is skipped. A frame with our address and a wrong CRC,
//    or a whole valid frame from another station, is Corrupt. The text of a complete
//    frame is the same message as a Modbus ASCII frame would carry it.
// Every well-formed frame of ours is judged against the requests on the line (see
// AnswerLedger): the answer to the request in hand completes; an answer to an earlier
// request, or one that an earlier request could equally have drawn, is discarded and
// waiting goes on; a frame that answers no request on the line (a Modbus 03 answer whose
// byte count no request asked for, a 06 answer naming another register, a KORVAN answer
// naming another item) is malformed: Corrupt at once.
// Our own request coming back byte for byte is the line's echo, never an answer. A Modbus 06
// answer is byte for byte its request, so there the line's echo decides: on a line known to
// echo, the first copy is the echo; on one known not to, the first copy is the answer; while
// the line's echo is not known, a first copy is held (holdsCopy) and a second one proves the
// line echoes and is the answer. A proven answer with no copy before it shows the line does
// not echo.
// A frame byte for byte the one judged just before it, with nothing between them, is the
// line repeating itself, not a second answer: it is dropped unjudged (two requests' equal
// answers back to back are then taken as one, which only ever leaves a request unproven).
// Modbus Corrupt texts are empty. The buffer is bounded whatever arrives.
class ResponseAssembler {
  public:
    enum class Status { Pending, Complete, Corrupt };

    // expectedAddress: the KORVAN address character, or the Modbus station byte;
    // function: the Modbus function code of the request (unused for KORVAN); request:
    // the request frame. Without `request` no echo is checked beyond the address.
    ResponseAssembler(qint16 protocolNo, char expectedAddress, quint8 function = 0,
                      QByteArray request = {});
    // For a request frame built by buildRequest; nullopt when it is not one.
    static std::optional<ResponseAssembler> forRequest(qint16 protocolNo,
                                                       const QByteArray& request);
    // Between exchanges, with no request in hand: every frame of ours is an earlier
    // request's, judged against `ledger` only to settle what it proves.
    static ResponseAssembler forLine(qint16 protocolNo, char expectedAddress, AnswerLedger* ledger);

    // The line the answer comes on: the ledger of the requests not yet settled, the
    // request in hand among them as `current`. Without one, the request in hand is the only
    // request on the line, and the line does not echo.
    void setLine(AnswerLedger* ledger, quint64 current);

    // `nowNs`: when the bytes arrived (the transport's clock), for how late a stale
    // answer came.
    Status feed(const QByteArray& bytes, qint64 nowNs = 0);
    Status status() const { return m_status; }
    QByteArray text() const { return m_text; }
    void reset();
    // Forgets the counts and times below, keeping a frame under way (between exchanges).
    void clearCounts();
    qsizetype buffered() const { return m_buf.size(); }
    // Whole frames dropped because they answered another request (or might have), and
    // their bytes.
    int discardedFrames() const { return m_discardedFrames; }
    qsizetype discardedBytes() const { return m_discardedBytes; }
    // Frames that the request in hand or an earlier one could have drawn.
    int ambiguousFrames() const { return m_ambiguous; }
    // Corrupt because a well-formed frame of ours answered no request on the line.
    bool malformed() const { return m_malformed; }
    // Bytes of our request that came back as it was sent.
    qsizetype echoBytes() const { return m_echoBytes; }
    // A Modbus 06 request's single copy while the line's echo is not known: its echo or
    // its answer. heldText is its text as an answer's, heldVerdict the judgement it would
    // get as one.
    bool holdsCopy() const { return !m_heldText.isEmpty(); }
    QByteArray heldText() const { return m_heldText; }
    Verdict heldVerdict() const { return m_heldVerdict; }
    // The stream goes on right after `raw`, the last frame judged before it (so that its
    // repeat is known for one).
    void followFrame(const QByteArray& raw);
    // When what was fed ended with a judged frame (nothing after it, nothing left unfed):
    // that frame's bytes; empty otherwise.
    QByteArray endingFrame() const;
    // The latest start of a stale answer after its request went out, in nanoseconds;
    // -1 when none could be timed (no stale answer, or one several requests could have drawn).
    qint64 lateNs() const { return m_lateNs; }

    static constexpr qsizetype kKorvanMaxBody = 12; // address .. data/error code
    static constexpr qsizetype kAsciiMaxFrame = 513;
    static constexpr qsizetype kRtuMaxFrame = 260; // 5 + byte count of 255

  private:
    void feedKorvan(char b);
    void feedAscii(char b);
    void scanRtu();
    void finishKorvan();
    void finishAscii();
    // A KORVAN frame of ours counts from its lead character: whether a copy of our request
    // ends with this byte.
    void watchKorvanEcho(char b);
    // A well-formed frame of ours (KORVAN frame, Modbus message): judged; true when it
    // ends the wait (Complete or Corrupt). `raw` its bytes as received, `startNs` when
    // its first byte came.
    // `start` is the offset of its first byte in all that was fed.
    bool settleFrame(const QByteArray& frame, const QByteArray& raw, qint64 start, qint64 startNs);
    // A byte-for-byte copy of our request: the echo, or (06) perhaps the answer.
    bool copyOfRequest(const QByteArray& message, qint64 start, qint64 startNs);
    QByteArray answerText(const QByteArray& frame) const;
    void useOwnLedger();

    qint16 m_protocol;
    char m_address;
    quint8 m_function;
    QByteArray m_request;      // KORVAN: the request frame; Modbus: its message (no checksum)
    QByteArray m_requestFrame; // the request as sent, for its echo
    AnswerLedger* m_ledger = nullptr;
    std::shared_ptr<AnswerLedger> m_own; // the request in hand alone, when no line is given
    quint64 m_current = 0;
    QByteArray m_buf;
    QList<qint64> m_bufTimes; // RTU: arrival of each buffered byte
    qint64 m_nowNs = 0;
    qint64 m_fed = 0;          // bytes fed so far: the offset of the next one
    qint64 m_unfed = 0;        // bytes of the last feed left after the frame that ended it
    qint64 m_bufStart = 0;     // RTU: the offset of m_buf's first byte
    qint64 m_frameStart = 0;   // KORVAN, ASCII: the offset of the frame's first byte
    qint64 m_frameStartNs = 0; // KORVAN, ASCII: arrival of the frame's first byte
    QByteArray m_prevRaw;      // the frame judged last ...
    qint64 m_prevEnd = -1;     // ... and the offset right after it
    qsizetype m_echoAt = 0;    // KORVAN: request bytes matched so far
    int m_discardedFrames = 0;
    qsizetype m_discardedBytes = 0;
    int m_ambiguous = 0;
    bool m_malformed = false;
    qsizetype m_echoBytes = 0;
    bool m_copySeen = false;  // a copy of our request came in this attempt
    bool m_echoTaken = false; // ... and was taken for the echo
    QByteArray m_heldText;
    Verdict m_heldVerdict = Verdict::Malformed;
    qint64 m_lateNs = -1;
    qsizetype m_etxPos = -1;
    Status m_status = Status::Pending;
    QByteArray m_text;
};

} // namespace pmx::framing
