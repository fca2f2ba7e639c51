#pragma once
#include "comm/CommObject.h"

#include <QByteArray>

namespace pmx {

// The fields one command hands to SendCommand, by protocol.
struct CommandFieldSet {
    QByteArray address, subAddress, commandType, dataItem, data;
};

// KORVAN command type for a command code: "03" -> " ", "q" "r" "a" "b" "`" unchanged,
// anything else (so "06") -> "P".
QByteArray korvanCommandType(const QByteArray& commod);
// Address fields: KORVAN one character stAdr + 20h; Modbus two upper-case hex digits
// (the low byte of stAdr, "00" to "5F" for instruments 0 to 95).
QByteArray korvanAddress(qint16 stAdr);
QByteArray modbusAddress(qint16 stAdr);

// Builds one command from the caller's fields, hands it to the communication object and
// returns the response text unchanged; "" when nothing was sent (a protocol number other
// than 0, 2, 3) or nothing valid came back. Under KORVAN the prepared sub-address and
// command type replace the caller's Subadr and Commod (they are passed by reference).
QByteArray Sendcomm(CommObject& com, qint16& stAdr, QByteArray& Subadr, QByteArray& Commod,
                    QByteArray& CommNo, QByteArray& Commdata, qint16& retn);

} // namespace pmx
