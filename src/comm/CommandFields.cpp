#include "comm/CommandFields.h"

namespace pmx {

QByteArray korvanCommandType(const QByteArray& command) {
    if (command == "03")
        return QByteArray(" ");
    if (command == "q" || command == "r" || command == "a" || command == "b" || command == "`")
        return command;
    return QByteArray("P");
}

QByteArray korvanAddress(qint16 instrument) {
    // One character; callers keep the instrument in 0..95, so it lies in 20h..7Fh.
    return QByteArray(1, char(quint8(instrument + 32)));
}

QByteArray modbusAddress(qint16 instrument) {
    const QByteArray hex = QByteArray::number(quint16(instrument), 16).toUpper();
    return (QByteArray("00") + hex).right(2);
}

QByteArray sendItemCommand(CommObject& com, qint16& instrument, QByteArray& subAddress,
                           QByteArray& command, QByteArray& item, QByteArray& data,
                           qint16& maxSends) {
    com.resetExchange();
    com.dropStaleInput();
    const qint16 protocol = com.conditions().protocol;
    if (protocol == kProtocolKorvan) {
        QByteArray address = korvanAddress(instrument);
        subAddress = QByteArray(" ");
        command = korvanCommandType(command);
        return com.sendCommand(address, subAddress, command, item, data, maxSends);
    }
    if (protocol == kProtocolModbusAscii || protocol == kProtocolModbusRtu) {
        QByteArray dataItem = item;
        if (command == "03")
            dataItem += "0001"; // start address and a quantity of one register
        QByteArray address = modbusAddress(instrument);
        return com.sendCommand(address, subAddress, command, dataItem, data, maxSends);
    }
    return {};
}

} // namespace pmx
