#pragma once
#include "comm/SettingsStore.h"
#include "text/StringTable.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace pmx {

class CommObject;

// Protocol numbers as the communication object knows them.
enum ProtocolNumber : qint16 {
    kProtocolKorvan = 0,
    kProtocolModbusAscii = 2,
    kProtocolModbusRtu = 3
};

// Parity of the line, by its letter.
enum class Parity : char { None = 'N', Even = 'E', Odd = 'O' };

// The communication conditions as the program works with them. They come from the stored
// texts and go back to texts only here (namespace cond).
struct Conditions {
    ProtocolNumber protocol = kProtocolKorvan;
    qint16 instrument = 0; // 0..95
    qint32 rate = 9600;    // bit/s
    int dataBits = 7;
    int stopBits = 1;
    Parity parity = Parity::Even;
    QString port = QStringLiteral("COM1");
    qint32 timeoutMs = 300;
    // Modbus only: read runs of consecutive selected items with one request each, at
    // most blockMax registers per request.
    bool blockRead = false;
    int blockMax = 125;

    bool operator==(const Conditions&) const = default;
};

// The communication conditions record: section and keys in the settings store. The key
// names "Party" and "Timout" are spelled as they are in every stored record, so that
// existing settings keep working. The record's section holds these eight keys and nothing
// else; the program's own options live in a section of their own (kOptionsSection).
namespace cond {
inline const QString kSection = QStringLiteral("DKR4073");
inline const QString kProtocol = QStringLiteral("Protocol");
inline const QString kDevNo = QStringLiteral("DevNo");
inline const QString kSpeed = QStringLiteral("Speed");
inline const QString kDatabit = QStringLiteral("Databit");
inline const QString kStopbit = QStringLiteral("Stopbit");
inline const QString kParityKey = QStringLiteral("Party");
inline const QString kPort = QStringLiteral("Port");
inline const QString kTimeoutKey = QStringLiteral("Timout");

// The program's own options.
inline const QString kOptionsSection = QStringLiteral("Options");
// "1" when every written item is read back ("0" or missing: not).
inline const QString kVerifyAfterWrite = QStringLiteral("VerifyAfterWrite");

inline const QString kDefaultProtocol = QStringLiteral("KORVAN");
inline const QString kDefaultDevNo = QStringLiteral("0");
inline const QString kDefaultSpeed = QStringLiteral("9600");
inline const QString kDefaultDatabit = QStringLiteral("7 bit");
inline const QString kDefaultStopbit = QStringLiteral("1 bit");
inline const QString kDefaultParity = QStringLiteral("EVEN");
inline const QString kDefaultPort = QStringLiteral("COM1");
inline const QString kDefaultTimeout = QStringLiteral("300");

// Block reads, among the options: "1" turns them on (absent or anything else is off); the
// count per request is 2..125 (anything else is 125).
inline const QString kBlockRead = QStringLiteral("BlockRead");
inline const QString kBlockMax = QStringLiteral("BlockMax");
// The options that earlier versions kept in the record's section.
inline const QStringList kOptionsOnceInTheRecord = {kVerifyAfterWrite, kBlockRead, kBlockMax};
// Moves the options found in the record's section to the options section (a value already
// there wins) and removes them from the record's section. Returns how many it moved.
int moveOptionsOutOfTheRecord(SettingsStore& store);
// An option's stored text; one not yet moved out of the record's section is read there.
QString optionValue(const SettingsStore& store, const QString& key, const QString& defaultValue);
inline constexpr int kBlockMaxLargest = 125; // what one function-03 request may ask
inline constexpr int kBlockMaxSmallest = 2;
struct BlockReadSetting {
    bool on = false;
    int max = kBlockMaxLargest;
    bool operator==(const BlockReadSetting&) const = default;
};
BlockReadSetting readBlockSetting(const SettingsStore& store);
void writeBlockSetting(SettingsStore& store, const BlockReadSetting& setting);
// The status frame's text: on with its count, off, or not used under KORVAN.
QString blockSettingText(const Conditions& conditions);

// Captions of the eight conditions, in record order (dialog rows, status frame, command
// line listing).
inline constexpr std::array<TextId, 8> kCaptions = {
    TextId::Protocol, TextId::InstrumentNumber, TextId::TransferRate, TextId::DataBits,
    TextId::StopBits, TextId::ParityBits,       TextId::Port,         TextId::Timeout};

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
    QString protocol, devNo, speed, databit, stopbit, parity, port, timeout;

    // The eight texts in record order.
    QStringList list() const {
        return {protocol, devNo, speed, databit, stopbit, parity, port, timeout};
    }
};
StoredConditions readStored(const SettingsStore& store);
// The OK button: stores each text exactly as given, in dialog order, without checking.
void writeStored(SettingsStore& store, const StoredConditions& texts);

// Conditions in the dialog's wording ("Modbus RTU", "7 bit", "EVEN"): the status frame
// shows what is in effect this way.
StoredConditions toTexts(const Conditions& conditions);

// Load-step selection: index of the entry to select, -1 for no selection.
int selectEqual(const QStringList& entries,
                const QString& stored);   // protocol, rate, parity, port, time-out
int selectDevice(const QString& stored);  // position = numeric value as 16-bit; -1 outside 0..95
int selectDataBit(const QString& stored); // "7 bit" -> 0, anything else -> 1
int selectStopBit(const QString& stored); // "1 bit" -> 0, anything else -> 1

// Validity tests applied by applyConditions.
bool isValidPort(const QString& text); // "COM" + ... + last char 1..8 (so "COM12" passes)
// The protocol of an entry text; nothing for any other text (letter case counts).
std::optional<ProtocolNumber> protocolFromText(const QString& text);
// True when the protocol and instrument texts would make every command a Modbus broadcast
// (station 0), read as applyConditions reads them.
bool meansModbusBroadcast(const QString& protocol, const QString& devNo);
} // namespace cond

// What applying the stored conditions came to.
struct ApplyResult {
    enum class Outcome {
        Opened,         // every condition applied and the port open
        UnreadableText, // a stored text could not be converted; the port stays closed
        PortNotOpened,  // the conditions were applied, the port did not open
    };
    Outcome outcome = Outcome::Opened;
    QString why; // the reason, for the operator; empty when opened

    bool opened() const { return outcome == Outcome::Opened; }
};

// Closes the port, reads the stored conditions, gives them to the communication object
// and opens the port. A stored text that is not valid is replaced by its default, and the
// default is written back. A text that cannot be converted at all (an instrument number
// beyond 16 bits, a time-out that is no number) stops the apply there: the conditions
// read before it are still given, so the instrument number is taken before the time-out.
ApplyResult applyConditions(CommObject& com, SettingsStore& store);

} // namespace pmx
