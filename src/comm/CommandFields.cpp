#include "comm/CommandFields.h"

namespace pmx {

QByteArray korvanCommandType(const QByteArray& commod) {
    if (commod == "03")
        return QByteArray(" ");
    if (commod == "q" || commod == "r" || commod == "a" || commod == "b" || commod == "`")
        return commod;
    return QByteArray("P");
}

QByteArray korvanAddress(qint16 stAdr) {
    // One character; callers keep stAdr in 0..95, so it lies in 20h..7Fh.
    return QByteArray(1, char(quint8(stAdr + 32)));
}

QByteArray modbusAddress(qint16 stAdr) {
    const QByteArray hex = QByteArray::number(quint16(stAdr), 16).toUpper();
    return (QByteArray("00") + hex).right(2);
}

QByteArray Sendcomm(CommObject& com, qint16& stAdr, QByteArray& Subadr, QByteArray& Commod,
                    QByteArray& CommNo, QByteArray& Commdata, qint16& retn) {
    QByteArray result;
    com.PrepareA();
    com.PrepareB();
    const qint16 protocol = com.ProtocolNo;

    if (protocol == kProtocolKorvan) {
        com.ProtocolNo = kProtocolKorvan;
        QByteArray address = korvanAddress(stAdr);
        Subadr = QByteArray(" ");
        Commod = korvanCommandType(Commod);
        result = com.SendCommand(address, Subadr, Commod, CommNo, Commdata, retn);
    } else if (protocol == kProtocolModbusAscii || protocol == kProtocolModbusRtu) {
        com.ProtocolNo = protocol;
        QByteArray dataItem = CommNo;
        if (Commod == "03")
            dataItem += "0001"; // start address and a quantity of one register
        QByteArray address = modbusAddress(stAdr);
        result = com.SendCommand(address, Subadr, Commod, dataItem, Commdata, retn);
    }
    return result;
}

} // namespace pmx
