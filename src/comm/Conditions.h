#pragma once
#include "comm/CommObject.h"
#include "comm/SettingsStore.h"

#include <QString>
#include <QStringList>

namespace pmx {

// The communication conditions record: section and keys in the settings store. The key
// names "Party" and "Timout" are spelled as the stored records have always had them.
namespace cond {
inline const QString kSection = QStringLiteral("DKR4073");
inline const QString kProtocol = QStringLiteral("Protocol");
inline const QString kDevNo = QStringLiteral("DevNo");
inline const QString kSpeed = QStringLiteral("Speed");
inline const QString kDatabit = QStringLiteral("Databit");
inline const QString kStopbit = QStringLiteral("Stopbit");
inline const QString kParty = QStringLiteral("Party");
inline const QString kPort = QStringLiteral("Port");
inline const QString kTimout = QStringLiteral("Timout");

inline const QString kDefaultProtocol = QStringLiteral("KORVAN");
inline const QString kDefaultDevNo = QStringLiteral("0");
inline const QString kDefaultSpeed = QStringLiteral("9600");
inline const QString kDefaultDatabit = QStringLiteral("7 bit");
inline const QString kDefaultStopbit = QStringLiteral("1 bit");
inline const QString kDefaultParty = QStringLiteral("EVEN");
inline const QString kDefaultPort = QStringLiteral("COM1");
inline const QString kDefaultTimout = QStringLiteral("300");

// Entries of the condition dialog's combo boxes, in list order.
QStringList protocolEntries(); // "KORVAN", "Modbus ASCII", "Modbus RTU"
QStringList deviceEntries();   // "0" .. "95"
QStringList rateEntries();     // "2400", "4800", "9600", "19200"
QStringList dataBitEntries();  // "7 bit", "8 bit"
QStringList stopBitEntries();  // "1 bit", "2 bit"
QStringList parityEntries();   // "NONE", "EVEN", "ODD"
QStringList portEntries();     // "COM1" .. "COM8"
QStringList timeoutEntries();  // "100" .. "4000"

// The stored texts as the dialog shows them (defaults for missing keys; nothing checked).
struct StoredConditions {
    QString protocol, devNo, speed, databit, stopbit, party, port, timout;
};
StoredConditions readStored(const SettingsStore& store);
// The OK button: stores each text exactly as given, in dialog order, without checking.
void writeStored(SettingsStore& store, const StoredConditions& texts);

// Load-step selection: index of the entry to select, -1 for no selection.
int selectEqual(const QStringList& entries,
                const QString& stored);   // protocol, rate, parity, port, time-out
int selectDevice(const QString& stored);  // position = numeric value as 16-bit; -1 outside 0..95
int selectDataBit(const QString& stored); // "7 bit" -> 0, anything else -> 1
int selectStopBit(const QString& stored); // "1 bit" -> 0, anything else -> 1

// Validity tests applied by SetSpeed.
bool isValidPort(const QString& text);      // "COM" + ... + last char 1..8 (so "COM12" passes)
qint16 protocolNumber(const QString& text); // 0, 2, 3; -1 when not one of the three
} // namespace cond

// Applies the stored conditions to the communication object and opens the port.
// Order of calls: ClosePort, ProtocolNo, Rate, DataBits, StopBits, Parity, PortName,
// Timeout, OpenPort. A stored value that is not valid is replaced by its default and the
// default is written back. Returns "ok" when the port opened, otherwise "" with the reason
// in *why (a conversion that fails, or the OpenPort error text). InstNo is set as soon as
// the instrument number has been taken, as the apply step has always done.
QString SetSpeed(CommObject& com, SettingsStore& store, qint16& InstNo, QString* why = nullptr);

} // namespace pmx
