#include "comm/Conditions.h"
#include "comm/Numbers.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

// Records what SetSpeed hands over; OpenPort succeeds unless told otherwise.
class PropertyComm : public CommObject {
  public:
    void Activate(bool) override {}
    bool OpenPort() override {
        calls << QStringLiteral("OpenPort");
        if (!openOk) {
            m_openError = OpenError::Busy;
            m_openErrorText = QStringLiteral("busy");
        }
        return openOk;
    }
    void ClosePort() override { calls << QStringLiteral("ClosePort"); }
    void PrepareA() override {}
    void PrepareB() override {}
    QByteArray SendCommand(QByteArray&, QByteArray&, QByteArray&, QByteArray&, QByteArray&,
                           qint16&) override {
        return {};
    }
    QByteArray ExtractData(const QByteArray&, qint32) const override { return {}; }
    QStringList calls;
    bool openOk = true;
};

QString stored(const SettingsStore& s, const QString& key) {
    return s.value(cond::kSection, key, QStringLiteral("<missing>"));
}

} // namespace

#ifdef Q_OS_LINUX
TEST(SettingsStore, UserStoreIsTheOrganisationFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    QSettingsStore store;
    EXPECT_EQ(store.fileName(), dir.filePath(QStringLiteral("KORVAN DELTRIS.conf")));
    store.setValue(cond::kSection, cond::kPort, QStringLiteral("COM2"));
    QFile file(store.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)); // written at once, no event loop needed
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[DKR4073]"));
    EXPECT_TRUE(text.contains("Port=COM2"));
}
#endif

TEST(Numbers, LeadingNumberRoundingAndWholeTexts) {
    const std::pair<const char*, double> leading[] = {{"300abc", 300}, {"  -12.5e1x", -125},
                                                      {"+.5", 0.5},    {"12e", 12},
                                                      {"abc", 0},      {"", 0},
                                                      {"-", 0},        {".", 0}};
    for (const auto& [text, value] : leading)
        EXPECT_EQ(leadingNumber(QString::fromLatin1(text)), value) << text;

    // Half to even, and nothing outside the 16-bit range.
    const std::pair<double, std::optional<qint16>> rounded[] = {
        {0.5, 0},           {1.5, 2},
        {2.5, 2},           {-2.5, -2},
        {95.4999, 95},      {32767.0, 32767},
        {-32768.0, -32768}, {32767.5, std::nullopt},
        {-32768.5, -32768}, {1e300 * 1e300, std::nullopt}};
    for (const auto& [value, result] : rounded)
        EXPECT_EQ(toInt16Rounded(value), result) << value;

    const std::pair<const char*, std::optional<qint32>> whole[] = {
        {"300", 300},
        {" 250 ", 250},
        {"1e3", 1000},
        {"3.5", 4},
        {"300abc", std::nullopt},
        {"", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483648", std::numeric_limits<qint32>::min()}};
    for (const auto& [text, result] : whole)
        EXPECT_EQ(toInt32Whole(QString::fromLatin1(text)), result) << text;

    // A German locale writes a decimal comma; stored texts are always C-locale numbers.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(leadingNumber(QStringLiteral("1.5")), 1.5);
    EXPECT_EQ(leadingNumber(QStringLiteral("1,5")), 1.0);
    EXPECT_EQ(toInt32Whole(QStringLiteral("2.5")), 2);
    QLocale::setDefault(QLocale::c());
}

TEST(SetSpeed, EmptyStoreAppliesDefaultsAndWritesNothing) {
    MemorySettingsStore store;
    PropertyComm com;
    com.ProtocolNo = 3;
    com.Rate = QStringLiteral("x");
    qint16 inst = 42;
    EXPECT_EQ(SetSpeed(com, store, inst), QStringLiteral("ok"));
    EXPECT_EQ(store.writeCount(), 0);
    EXPECT_EQ(std::tuple(com.ProtocolNo, inst, com.Rate, com.DataBits, com.StopBits, com.Parity,
                         com.PortName, com.Timeout),
              std::tuple(qint16(0), qint16(0), QStringLiteral("9600"), QStringLiteral("7"),
                         QStringLiteral("1"), QStringLiteral("EVEN"), QStringLiteral("COM1"),
                         qint32(300)));
    EXPECT_EQ(com.calls, QStringList({"ClosePort", "OpenPort"}));
}

TEST(SetSpeed, InvalidValuesAreReplacedAndWrittenBack) {
    MemorySettingsStore store;
    cond::writeStored(store, {"modbus rtu", "96", "115200", "8", "2 bit", "MARK", "COM9", "300"});
    PropertyComm com;
    qint16 inst = 5;
    ASSERT_EQ(SetSpeed(com, store, inst), QStringLiteral("ok"));
    EXPECT_EQ(com.ProtocolNo, 0);
    EXPECT_EQ(stored(store, cond::kProtocol), QStringLiteral("KORVAN"));
    EXPECT_EQ(com.Rate, QStringLiteral("9600"));
    EXPECT_EQ(stored(store, cond::kSpeed), QStringLiteral("9600"));
    EXPECT_EQ(stored(store, cond::kDatabit), QStringLiteral("7 bit"));
    EXPECT_EQ(com.StopBits, QStringLiteral("2"));
    EXPECT_EQ(stored(store, cond::kParty), QStringLiteral("EVEN"));
    EXPECT_EQ(stored(store, cond::kPort), QStringLiteral("COM1"));
    EXPECT_EQ(inst, 0);
    EXPECT_EQ(stored(store, cond::kDevNo), QStringLiteral("0"));
}

TEST(SetSpeed, ValuesKeptAsStored) {
    MemorySettingsStore store;
    cond::writeStored(store,
                      {"Modbus ASCII", "abc", "9600", "7 bit", "1 bit", "EVEN", "COM12", "250"});
    const int writes = store.writeCount();
    PropertyComm com;
    qint16 inst = 7;
    ASSERT_EQ(SetSpeed(com, store, inst), QStringLiteral("ok"));
    EXPECT_EQ(store.writeCount(), writes);
    EXPECT_EQ(com.ProtocolNo, 2);
    EXPECT_EQ(com.PortName, QStringLiteral("COM12"));
    EXPECT_EQ(com.Timeout, 250);
    EXPECT_EQ(inst, 0);
    EXPECT_EQ(stored(store, cond::kDevNo), QStringLiteral("abc"));

    store.setValue(cond::kSection, cond::kTimout, QStringLiteral("4000"));
    store.setValue(cond::kSection, cond::kDevNo, QStringLiteral("95"));
    ASSERT_EQ(SetSpeed(com, store, inst), QStringLiteral("ok"));
    EXPECT_EQ(com.Timeout, 4000);
    EXPECT_EQ(inst, 95);
}

TEST(SetSpeed, TimeoutOutOfRangeBecomes300) {
    for (const char* bad : {"4001", "50", "99.9", ""}) {
        MemorySettingsStore store;
        store.setValue(cond::kSection, cond::kTimout, QString::fromLatin1(bad));
        PropertyComm com;
        qint16 inst = 0;
        ASSERT_EQ(SetSpeed(com, store, inst), QStringLiteral("ok")) << bad;
        EXPECT_EQ(com.Timeout, 300) << bad;
        EXPECT_EQ(stored(store, cond::kTimout), QStringLiteral("300")) << bad;
    }
}

TEST(SetSpeed, FailuresGiveAnEmptyResult) {
    {
        MemorySettingsStore store;
        PropertyComm com;
        com.openOk = false;
        qint16 inst = 0;
        QString why;
        EXPECT_EQ(SetSpeed(com, store, inst, &why), QString());
        EXPECT_EQ(why, QStringLiteral("busy"));
    }
    // Conversion failures stop before opening.
    {
        MemorySettingsStore store;
        store.setValue(cond::kSection, cond::kTimout, QStringLiteral("300abc"));
        PropertyComm com;
        qint16 inst = 0;
        QString why;
        EXPECT_EQ(SetSpeed(com, store, inst, &why), QString());
        EXPECT_FALSE(why.isEmpty());
        EXPECT_FALSE(com.calls.contains(QStringLiteral("OpenPort")));
        EXPECT_EQ(stored(store, cond::kTimout), QStringLiteral("300abc"));
    }
    {
        MemorySettingsStore store;
        store.setValue(cond::kSection, cond::kDevNo, QStringLiteral("40000"));
        PropertyComm com;
        qint16 inst = 3;
        EXPECT_EQ(SetSpeed(com, store, inst), QString());
        EXPECT_EQ(inst, 3);
        EXPECT_FALSE(com.calls.contains(QStringLiteral("OpenPort")));
    }
}

TEST(ConditionDialog, LoadStepSelection) {
    using namespace cond;
    EXPECT_EQ(selectEqual(rateEntries(), QStringLiteral("9600")), 2);
    EXPECT_EQ(selectEqual(rateEntries(), QStringLiteral("115200")), -1);
    EXPECT_EQ(selectEqual(portEntries(), QStringLiteral("COM12")), -1);
    EXPECT_EQ(selectEqual(timeoutEntries(), QStringLiteral("250")), -1);
    EXPECT_EQ(selectEqual(timeoutEntries(), QStringLiteral("4000")), 13);
    EXPECT_EQ(selectDevice(QStringLiteral("95")), 95);
    EXPECT_EQ(selectDevice(QStringLiteral("abc")), 0);
    EXPECT_EQ(selectDevice(QStringLiteral("96")), -1);
    EXPECT_EQ(selectDevice(QStringLiteral("99999")), -1);
    EXPECT_EQ(selectDataBit(QStringLiteral("8")), 1);
    EXPECT_EQ(selectStopBit(QStringLiteral("1 bit")), 0);
    EXPECT_EQ(deviceEntries().size(), 96);
    EXPECT_EQ(deviceEntries().back(), QStringLiteral("95"));
}

TEST(ConditionDialog, StoredTextsRoundTripThroughQSettingsFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("store.conf"));
    cond::StoredConditions typed{QStringLiteral("Modbus RTU"), QStringLiteral("1,2"),
                                 QStringLiteral("19200"),      QStringLiteral("8 bit"),
                                 QStringLiteral("2 bit"),      QStringLiteral("ODD"),
                                 QStringLiteral("COM3"),       QStringLiteral("300abc")};
    {
        QSettingsStore store(file);
        cond::writeStored(store, typed);
    }
    QSettingsStore reread(file);
    const auto back = cond::readStored(reread);
    EXPECT_EQ(back.protocol, typed.protocol);
    EXPECT_EQ(back.devNo, typed.devNo);
    EXPECT_EQ(back.timout, typed.timout);
    EXPECT_TRUE(reread.contains(cond::kSection, cond::kParty));
}
