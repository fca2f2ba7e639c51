#pragma once
#include <QByteArray>
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

// extractData: KORVAN read ACK -> characters 9..12; Modbus 03 response text -> the n-th
// register's four hex digits. Empty when the text is not such a response.
QByteArray extractData(const QByteArray& text, qint32 n);

// Assembles one response from arriving bytes and knows when it is complete, so an
// exchange never waits for the time-out to find the end of a frame.
//  - KORVAN: skips bytes until ACK/NAK/ESC, ends two characters after ETX. Complete
//    gives the frame as received; a frame whose BCC is wrong, whose address does not
//    echo the request or whose layout is wrong is Corrupt, with the text starting with
//    ESC so that it is reported as a checksum error. A frame with our address whose
//    command type or data item does not echo the request answers another request (a
//    late answer): it is discarded and waiting goes on.
//  - Modbus ASCII: ':' .. CR LF. A frame from another station is ignored (another
//    instrument may share the line) and waiting continues; a bad LRC or undecodable
//    frame is Corrupt. The text is the frame, hex digits in upper case.
//  - Modbus RTU: the length follows from the function code, byte count and exception
//    bit; garbage before the frame is skipped. A frame with our address and a wrong CRC,
//    or a whole valid frame from another station, is Corrupt. The text of a complete
//    frame is the same message as a Modbus ASCII frame would carry it.
//  - Both Modbus modes: an answer must carry the request's function code (or its
//    exception code); a function 06 answer must echo the request's register and value,
//    and a function 03 answer must carry as many bytes as the request asked registers;
//    a well-formed frame of ours that does not is discarded (a late answer) and waiting
//    goes on. Exception answers name no register and are taken as they come.
// Modbus Corrupt texts are empty. The buffer is bounded whatever arrives.
class ResponseAssembler {
  public:
    enum class Status { Pending, Complete, Corrupt };

    // expectedAddress: the KORVAN address character, or the Modbus station byte;
    // function: the Modbus function code of the request (unused for KORVAN). Without
    // `request` no echo is checked beyond the address.
    ResponseAssembler(qint16 protocolNo, char expectedAddress, quint8 function = 0,
                      QByteArray request = {});
    // For a request frame built by buildRequest; nullopt when it is not one.
    static std::optional<ResponseAssembler> forRequest(qint16 protocolNo,
                                                       const QByteArray& request);

    Status feed(const QByteArray& bytes);
    Status status() const { return m_status; }
    QByteArray text() const { return m_text; }
    void reset();
    qsizetype buffered() const { return m_buf.size(); }
    // Whole frames dropped because they answered another request, and their bytes.
    int discardedFrames() const { return m_discardedFrames; }
    qsizetype discardedBytes() const { return m_discardedBytes; }

    static constexpr qsizetype kKorvanMaxBody = 12; // address .. data/error code
    static constexpr qsizetype kAsciiMaxFrame = 513;
    static constexpr qsizetype kRtuMaxFrame = 260; // 5 + byte count of 255

  private:
    void feedKorvan(char b);
    void feedAscii(char b);
    void scanRtu();
    void finishKorvan();
    void finishAscii();
    // Whether a Modbus message of ours (address, function, data) answers the request.
    bool modbusEchoMatches(const QByteArray& message) const;
    void discard(qsizetype bytes);

    qint16 m_protocol;
    char m_address;
    quint8 m_function;
    QByteArray m_request; // KORVAN: the request frame; Modbus: its message (no checksum)
    QByteArray m_buf;
    int m_discardedFrames = 0;
    qsizetype m_discardedBytes = 0;
    qsizetype m_etxPos = -1;
    Status m_status = Status::Pending;
    QByteArray m_text;
};

} // namespace pmx::framing
