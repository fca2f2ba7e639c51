#pragma once
#include "comm/CommObject.h"

#include <QByteArray>

namespace pmx {

// The fields one command hands to sendCommand, by protocol.
struct CommandFieldSet {
    QByteArray address, subAddress, commandType, dataItem, data;
};

// KORVAN command type for a command code: "03" -> " ", "q" "r" "a" "b" "`" unchanged,
// anything else (so "06") -> "P".
QByteArray korvanCommandType(const QByteArray& command);
// Address fields: KORVAN one character, the instrument number + 20h; Modbus two upper-case
// hex digits (the low byte of the instrument number, "00" to "5F" for instruments 0 to 95).
QByteArray korvanAddress(qint16 instrument);
QByteArray modbusAddress(qint16 instrument);

// Builds one command from the caller's fields, hands it to the communication object and
// returns the response text unchanged; "" when nothing was sent (a protocol number other
// than 0, 2, 3) or nothing valid came back. Under KORVAN the prepared sub-address and
// command type replace the caller's (they are passed by reference). `maxSends` is the most
// times the request is sent (see SerialComm).
QByteArray sendItemCommand(CommObject& com, qint16& instrument, QByteArray& subAddress,
                           QByteArray& command, QByteArray& item, QByteArray& data,
                           qint16& maxSends);

} // namespace pmx
