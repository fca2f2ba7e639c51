#include "comm/CommandFields.h"

#include "comm/Classification.h"

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

ExchangeResult sendItemCommand(CommObject& com, const Request& request) {
    com.resetExchange();
    com.dropStaleInput();
    ExchangeResult result = com.sendCommand(request);
    if (!result.good() || !request.isRead())
        return result;
    for (int n = 1; n <= request.count; ++n) {
        const std::optional<qint16> value = decodeDataField(com.extractData(result.text, n));
        if (!value) {
            result.values.clear();
            result.outcome = ExchangeOutcome::ChecksumError;
            return result;
        }
        result.values.append(*value);
    }
    return result;
}

} // namespace pmx
