#pragma once
// A communication object that answers as an instrument would, per item, without a
// serial line: for sequence and window tests.
#include "comm/CommObject.h"
#include "model/ItemTable.h"
#include <QMap>
#include <QStringList>
#include <functional>

namespace pmx::test {

class FakeComm : public CommObject {
public:
    bool openOk = true;
    std::function<void()> onSend; // runs inside every exchange

    void Activate(bool) override {}
    bool OpenPort() override {
        m_device = PortName;
        return openOk;
    }
    void ClosePort() override {}
    void PrepareA() override {}
    void PrepareB() override {}
    QByteArray SendCommand(QByteArray&, QByteArray&, QByteArray& type, QByteArray& item,
                           QByteArray& data, qint16&) override {
        if (onSend)
            onSend();
        const bool korvan = ProtocolNo == kProtocolKorvan;
        const QByteArray addr = item.left(4);
        const bool write = korvan ? type == "P" : type == "06";
        log << (write ? "W " + addr + " " + data : "R " + addr);
        const int i = addr.toInt(nullptr, 16);
        const QByteArray fault = faults.value(i);
        if (fault == "silent")
            return {};
        if (korvan) {
            if (fault == "nak")
                return "\x15 \x20 " + addr + "03\x03" "00";
            return "\x06! " + type + addr + (write ? QByteArray() : value(i)) + "\x03" "00";
        }
        if (fault == "nak")
            return ":01" + QByteArray(write ? "86" : "83") + "02XX\r\n";
        return write ? ":0106" + addr + data + "XX\r\n" : ":010302" + value(i) + "XX\r\n";
    }
    QByteArray ExtractData(const QByteArray& text, qint32) const override {
        return ProtocolNo == kProtocolKorvan ? text.mid(8, 4) : text.mid(7, 4);
    }
    QByteArray value(int i) const {
        return values.contains(i) ? values.value(i) : itemDataText(qint16(i * 10)).toLatin1();
    }
    QStringList log;
    QMap<int, QByteArray> faults;
    QMap<int, QByteArray> values;
};

} // namespace pmx::test
