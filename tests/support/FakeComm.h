#pragma once
// A communication object that answers as an instrument would, per item, without a
// serial line: for sequence and window tests.
#include "comm/CommObject.h"
#include "model/ItemTable.h"
#include <QFileInfo>
#include <QMap>
#include <QStringList>
#include <functional>

namespace pmx::test {

class FakeComm : public CommObject {
  public:
    bool openOk = true;
    std::function<void()> onSend; // runs inside every exchange
    // When set, the device the port opens: a file that must exist for openPort to work,
    // so a test unplugs and re-plugs it by removing and creating the file. A network
    // address needs no file: openOk decides.
    QString devicePath;
    QString openErrorText; // the reason a failed openPort gives

    void activate(bool) override {}
    bool openPort() override {
        m_device = devicePath.isEmpty() ? m_conditions.port : devicePath;
        const bool ok = openOk && (devicePath.isEmpty() || QFileInfo::exists(devicePath) ||
                                   devicePath.startsWith(QLatin1String("tcp://")));
        m_openErrorText = ok ? QString() : openErrorText;
        if (ok)
            m_lost = false;
        return ok;
    }
    void closePort() override {}
    // The device goes away while nothing is sent: the program hears of it by the handler.
    void loseDevice() {
        m_lost = true;
        m_lostDevice = m_device;
        if (m_lostHandler)
            m_lostHandler();
    }
    void resetExchange() override {}
    void dropStaleInput() override {}
    ExchangeResult sendCommand(const Request& request) override {
        if (onSend)
            onSend();
        return resultOfText(request, answer(request));
    }
    // The response text an instrument would give.
    QByteArray answer(const Request& request) {
        if (m_lost)
            return {}; // the port closed with the device
        const bool korvan = m_conditions.protocol == kProtocolKorvan;
        const QByteArray addr = request.item.left(4);
        const QByteArray& data = request.data;
        const bool write = request.command == "06";
        log << (write ? "W " + addr + " " + data : "R " + addr);
        const int i = addr.toInt(nullptr, 16);
        const QByteArray fault = faults.value(i);
        if (fault == "silent")
            return {};
        if (korvan) {
            const QByteArray end = QByteArray("\x03") + "00"; // ETX, a checksum nobody checks
            if (fault == "nak")
                return "\x15 \x20 " + addr + "03" + end;
            const QByteArray type = write ? QByteArray("P") : QByteArray(" ");
            return "\x06! " + type + addr + (write ? QByteArray() : value(i)) + end;
        }
        if (fault == "nak")
            return ":01" + QByteArray(write ? "86" : "83") + "02XX\r\n";
        return write ? ":0106" + addr + data + "XX\r\n" : ":010302" + value(i) + "XX\r\n";
    }
    QByteArray extractData(const QByteArray& text, qint32) const override {
        return m_conditions.protocol == kProtocolKorvan ? text.mid(8, 4) : text.mid(7, 4);
    }
    QByteArray value(int i) const {
        return values.contains(i) ? values.value(i) : itemDataText(qint16(i * 10)).toLatin1();
    }
    QStringList log;
    QMap<int, QByteArray> faults;
    QMap<int, QByteArray> values;
};

} // namespace pmx::test
