#pragma once
#include "comm/CommObject.h"

#include <QByteArray>

namespace pmx {

// KORVAN command type for a command code: "03" -> " ", "q" "r" "a" "b" "`" unchanged,
// anything else (so "06") -> "P".
QByteArray korvanCommandType(const QByteArray& command);
// Address fields: KORVAN one character, the instrument number + 20h; Modbus two upper-case
// hex digits (the low byte of the instrument number, "00" to "5F" for instruments 0 to 95).
QByteArray korvanAddress(qint16 instrument);
QByteArray modbusAddress(qint16 instrument);

// One command in the order the communication object expects it: resetExchange,
// dropStaleInput, sendCommand; after a good read the registers asked are taken out with
// extractData into the result's values. A read whose data fields are not four hex digits
// each was damaged on the way: its outcome is ChecksumError, never a guessed value.
ExchangeResult sendItemCommand(CommObject& com, const Request& request);

} // namespace pmx
