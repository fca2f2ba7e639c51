#include "comm/Conditions.h"

#include "comm/Codec.h"
#include "comm/CommObject.h"
#include "text/Numbers.h"

namespace pmx {
namespace cond {

QStringList protocolEntries() {
    return {QStringLiteral("KORVAN"), QStringLiteral("Modbus ASCII"), QStringLiteral("Modbus RTU")};
}

QStringList deviceEntries() {
    QStringList out;
    out.reserve(96);
    for (int i = 0; i <= 95; ++i)
        out << QString::number(i);
    return out;
}

QStringList rateEntries() {
    return {QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
            QStringLiteral("19200")};
}

QStringList dataBitEntries() {
    return {QStringLiteral("7 bit"), QStringLiteral("8 bit")};
}
QStringList stopBitEntries() {
    return {QStringLiteral("1 bit"), QStringLiteral("2 bit")};
}

QStringList parityEntries() {
    return {QStringLiteral("NONE"), QStringLiteral("EVEN"), QStringLiteral("ODD")};
}

QStringList portEntries() {
    QStringList out;
    for (int i = 1; i <= 8; ++i)
        out << QStringLiteral("COM%1").arg(i);
    return out;
}

QStringList timeoutEntries() {
    return {QStringLiteral("100"),  QStringLiteral("200"),  QStringLiteral("300"),
            QStringLiteral("400"),  QStringLiteral("500"),  QStringLiteral("600"),
            QStringLiteral("700"),  QStringLiteral("800"),  QStringLiteral("900"),
            QStringLiteral("1000"), QStringLiteral("1500"), QStringLiteral("2000"),
            QStringLiteral("3000"), QStringLiteral("4000")};
}

StoredConditions readStored(const SettingsStore& store) {
    StoredConditions c;
    c.protocol = store.value(kSection, kProtocol, kDefaultProtocol);
    c.devNo = store.value(kSection, kDevNo, kDefaultDevNo);
    c.speed = store.value(kSection, kSpeed, kDefaultSpeed);
    c.databit = store.value(kSection, kDatabit, kDefaultDatabit);
    c.stopbit = store.value(kSection, kStopbit, kDefaultStopbit);
    c.parity = store.value(kSection, kParityKey, kDefaultParity);
    c.port = store.value(kSection, kPort, kDefaultPort);
    c.timeout = store.value(kSection, kTimeoutKey, kDefaultTimeout);
    return c;
}

void writeStored(SettingsStore& store, const StoredConditions& c) {
    store.setValue(kSection, kProtocol, c.protocol);
    store.setValue(kSection, kDevNo, c.devNo);
    store.setValue(kSection, kSpeed, c.speed);
    store.setValue(kSection, kDatabit, c.databit);
    store.setValue(kSection, kStopbit, c.stopbit);
    store.setValue(kSection, kParityKey, c.parity);
    store.setValue(kSection, kPort, c.port);
    store.setValue(kSection, kTimeoutKey, c.timeout);
}

int selectEqual(const QStringList& entries, const QString& stored) {
    return int(entries.indexOf(stored));
}

int selectDevice(const QString& stored) {
    const auto n = toInt16Rounded(leadingNumber(stored));
    if (!n || *n < 0 || *n > 95)
        return -1;
    return *n;
}

int selectDataBit(const QString& stored) {
    return stored == QLatin1String("7 bit") ? 0 : 1;
}
int selectStopBit(const QString& stored) {
    return stored == QLatin1String("1 bit") ? 0 : 1;
}

bool isValidPort(const QString& text) {
    if (!text.startsWith(QLatin1String("COM")))
        return false;
    const QChar last = text.back();
    return last >= u'1' && last <= u'8';
}

std::optional<ProtocolNumber> protocolFromText(const QString& text) {
    if (text == QLatin1String("KORVAN"))
        return kProtocolKorvan;
    if (text == QLatin1String("Modbus ASCII"))
        return kProtocolModbusAscii;
    if (text == QLatin1String("Modbus RTU"))
        return kProtocolModbusRtu;
    return std::nullopt;
}

namespace {

// The instrument number of a stored text: its leading number, nothing when that does not
// fit 16 bits. Numbers outside 0..95 are for the caller to replace.
std::optional<qint16> instrumentNumber(const QString& text) {
    return toInt16Rounded(leadingNumber(text));
}

bool isInstrumentInRange(qint16 n) {
    return n >= 0 && n <= 95;
}

// Under Modbus station 0 writes to every instrument on the line without an answer, so it is
// taken only from a text that says 0. A typo that would fall back to 0 ("96", "x", "0.4")
// must not turn the operator's writes into broadcasts.
bool saysZero(const QString& text) {
    return wholeNumber(text) == 0.0;
}

bool stationZeroBroadcasts(ProtocolNumber protocol) {
    const Codec* codec = codecFor(protocol);
    return codec && codec->broadcastsTo(0);
}

bool isStrayBroadcast(ProtocolNumber protocol, const QString& text, qint16 n) {
    const bool fallsToZero = !isInstrumentInRange(n) || (n == 0 && !saysZero(text));
    return stationZeroBroadcasts(protocol) && fallsToZero;
}

QString parityText(Parity parity) {
    switch (parity) {
    case Parity::None:
        return QStringLiteral("NONE");
    case Parity::Even:
        return QStringLiteral("EVEN");
    case Parity::Odd:
        return QStringLiteral("ODD");
    }
    return QString(QLatin1Char(char(parity)));
}

Parity parityFromText(const QString& text) {
    return text == QLatin1String("NONE")  ? Parity::None
           : text == QLatin1String("ODD") ? Parity::Odd
                                          : Parity::Even;
}

} // namespace

bool meansModbusBroadcast(const QString& protocol, const QString& devNo) {
    // Only a text that says 0 is taken as station 0 under Modbus (see isStrayBroadcast).
    const ProtocolNumber p = protocolFromText(protocol).value_or(kProtocolKorvan);
    return stationZeroBroadcasts(p) && saysZero(devNo);
}

StoredConditions toTexts(const Conditions& c) {
    QString protocol;
    for (const QString& entry : protocolEntries())
        if (protocolFromText(entry) == c.protocol)
            protocol = entry;
    const QString bit = QStringLiteral(" bit");
    return {protocol,
            QString::number(c.instrument),
            QString::number(c.rate),
            QString::number(c.dataBits) + bit,
            QString::number(c.stopBits) + bit,
            parityText(c.parity),
            c.port,
            QString::number(c.timeoutMs)};
}

int moveOptionsOutOfTheRecord(SettingsStore& store) {
    int moved = 0;
    for (const QString& key : kOptionsOnceInTheRecord) {
        if (!store.contains(kSection, key))
            continue;
        if (!store.contains(kOptionsSection, key))
            store.setValue(kOptionsSection, key, store.value(kSection, key, QString()));
        store.remove(kSection, key);
        ++moved;
    }
    return moved;
}

QString optionValue(const SettingsStore& store, const QString& key, const QString& defaultValue) {
    if (store.contains(kOptionsSection, key) || !kOptionsOnceInTheRecord.contains(key))
        return store.value(kOptionsSection, key, defaultValue);
    return store.value(kSection, key, defaultValue);
}

BlockReadSetting readBlockSetting(const SettingsStore& store) {
    BlockReadSetting b;
    b.on = optionValue(store, kBlockRead, QStringLiteral("0")).trimmed() == QStringLiteral("1");
    bool ok = false;
    const int max = optionValue(store, kBlockMax, QString()).trimmed().toInt(&ok);
    if (ok && max >= kBlockMaxSmallest && max <= kBlockMaxLargest)
        b.max = max;
    return b;
}

void writeBlockSetting(SettingsStore& store, const BlockReadSetting& setting) {
    store.setValue(kOptionsSection, kBlockRead,
                   setting.on ? QStringLiteral("1") : QStringLiteral("0"));
    store.setValue(kOptionsSection, kBlockMax, QString::number(setting.max));
}

QString blockSettingText(const Conditions& c) {
    if (c.protocol == kProtocolKorvan)
        return strings::text(TextId::BlockReadsUnused);
    return c.blockRead ? strings::text(TextId::BlockReadsOn).arg(c.blockMax)
                       : strings::text(TextId::BlockReadsOff);
}

} // namespace cond

namespace {

// Reads a field; when `valid` rejects it, the default is used and written back.
template <typename Valid>
QString checkedField(SettingsStore& store, const QString& key, const QString& def, Valid valid) {
    const QString text = store.value(cond::kSection, key, def);
    if (valid(text))
        return text;
    store.setValue(cond::kSection, key, def);
    return def;
}

} // namespace

ApplyResult applyConditions(CommObject& com, SettingsStore& store) {
    using namespace cond;
    com.closePort();
    Conditions c = com.conditions();
    const auto unreadable = [&](const QString& why) {
        com.setConditions(c); // what was read before the failing text
        return ApplyResult{ApplyResult::Outcome::UnreadableText, why};
    };

    const QString protocol = checkedField(store, kProtocol, kDefaultProtocol, [](const QString& t) {
        return protocolFromText(t).has_value();
    });
    c.protocol = *protocolFromText(protocol);
    // Beside the record and never written back here: absent stays absent (off).
    const BlockReadSetting block = readBlockSetting(store);
    c.blockRead = block.on;
    c.blockMax = block.max;

    const QString devText = store.value(kSection, kDevNo, kDefaultDevNo);
    const auto dev = instrumentNumber(devText);
    if (!dev || isStrayBroadcast(c.protocol, devText, *dev)) {
        // "96" is a number out of range; "x" or "0.4" is no instrument number at all.
        const bool outOfRange = !dev || !isInstrumentInRange(*dev);
        return unreadable(
            strings::text(outOfRange ? TextId::InstrumentOutOfRange : TextId::InstrumentNotANumber)
                .arg(devText));
    }
    c.instrument = *dev;
    if (!isInstrumentInRange(c.instrument)) {
        c.instrument = 0;
        store.setValue(kSection, kDevNo, kDefaultDevNo);
    }

    const auto inList = [](const QStringList& entries) {
        return [entries](const QString& t) { return entries.contains(t); };
    };
    // Every text in these lists is a number (with " bit") or a parity name.
    c.rate = checkedField(store, kSpeed, kDefaultSpeed, inList(rateEntries())).toInt();
    c.dataBits =
        checkedField(store, kDatabit, kDefaultDatabit, inList(dataBitEntries())).left(1).toInt();
    c.stopBits =
        checkedField(store, kStopbit, kDefaultStopbit, inList(stopBitEntries())).left(1).toInt();
    c.parity =
        parityFromText(checkedField(store, kParityKey, kDefaultParity, inList(parityEntries())));
    c.port = checkedField(store, kPort, kDefaultPort, isValidPort);

    const QString timeout = checkedField(store, kTimeoutKey, kDefaultTimeout, [](const QString& t) {
        const double v = leadingNumber(t);
        return v >= 100.0 && v <= 4000.0;
    });
    const auto ms = toInt32Whole(timeout);
    if (!ms)
        return unreadable(strings::text(TextId::TimeoutNotANumber).arg(timeout));
    c.timeoutMs = *ms;
    com.setConditions(c);

    if (!com.openPort()) {
        QString reason = com.lastOpenErrorText();
        if (reason.isEmpty())
            reason = strings::text(TextId::PortNotOpenedNamed).arg(c.port);
        return {ApplyResult::Outcome::PortNotOpened, reason};
    }
    return {};
}

} // namespace pmx
