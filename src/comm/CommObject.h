#pragma once
#include <QByteArray>
#include <QString>

#include <functional>

namespace pmx {

// Protocol numbers as the communication object knows them.
enum ProtocolNumber : qint16 { kProtocolKorvan = 0, kProtocolModbusAscii = 2, kProtocolModbusRtu = 3 };

// Why the last OpenPort failed, so the program can say which.
enum class OpenError { None, NotFound, Busy, PermissionDenied, BadSettings, Other };

// The serial communication object: one per run, held by the main window as SetCom.
// Operations and calling orders are those of the maker's object this replaces:
//   run loop start: Activate(true)
//   applying conditions: ClosePort, ProtocolNo, Rate, DataBits, StopBits, Parity,
//                        PortName, Timeout, OpenPort
//   every command: PrepareA, PrepareB, ProtocolNo (read), ProtocolNo (write),
//                  SendCommand; then ProtocolNo (read) and, after a good read, ExtractData
// No operation throws: failures are values (false, empty text).
class CommObject {
public:
    virtual ~CommObject() = default;

    virtual void Activate(bool on) = 0;
    virtual bool OpenPort() = 0;
    virtual void ClosePort() = 0;
    virtual void PrepareA() = 0;
    virtual void PrepareB() = 0;

    // Fields as Sendcomm prepares them (texts of 8-bit characters). Returns the response
    // text (see the framing contract), or an empty text when nothing valid came back.
    virtual QByteArray SendCommand(QByteArray& address, QByteArray& subAddress,
                                   QByteArray& commandType, QByteArray& dataItem,
                                   QByteArray& data, qint16& retn) = 0;
    // The data field of a good read response (n = 1): four hex digits, or empty.
    virtual QByteArray ExtractData(const QByteArray& text, qint32 n) const = 0;

    // Properties.
    qint16 ProtocolNo = kProtocolKorvan;
    QString Rate = QStringLiteral("9600");
    QString DataBits = QStringLiteral("7");
    QString StopBits = QStringLiteral("1");
    QString Parity = QStringLiteral("EVEN");
    QString PortName = QStringLiteral("COM1");
    qint32 Timeout = 300;

    // Reason and device of the last OpenPort failure (empty when it succeeded).
    OpenError lastOpenError() const { return m_openError; }
    QString lastOpenErrorText() const { return m_openErrorText; }
    QString lastDevice() const { return m_device; }

    // True once the open device went away (hang-up, I/O or resource error): the port is
    // closed then, and stays so until OpenPort. lostDevice() names the device.
    bool deviceLost() const { return m_lost; }
    QString lostDevice() const { return m_lostDevice; }
    // Called once per loss when it is noticed outside an exchange (the program idle).
    void setLostHandler(std::function<void()> handler) { m_lostHandler = std::move(handler); }

protected:
    OpenError m_openError = OpenError::None;
    QString m_openErrorText;
    QString m_device;
    bool m_lost = false;
    QString m_lostDevice;
    std::function<void()> m_lostHandler;
};

} // namespace pmx
