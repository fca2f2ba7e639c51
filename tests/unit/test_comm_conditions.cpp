#include "comm/Conditions.h"
#include "comm/Numbers.h"
#include "comm/PortMap.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <cmath>
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

// One SetSpeed call on a memory store, after setting the given stored texts.
struct Apply {
    MemorySettingsStore store;
    PropertyComm com;
    qint16 inst = 42;
    QString why;
    QString run(std::initializer_list<std::pair<QString, const char*>> texts = {}) {
        for (const auto& [key, text] : texts)
            store.setValue(cond::kSection, key, QString::fromLatin1(text));
        com.calls.clear();
        return SetSpeed(com, store, inst, &why);
    }
};

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
                                                      {"-", 0},        {".", 0},
                                                      {"1e999", HUGE_VAL}, {"-1e999x", -HUGE_VAL},
                                                      {"1e-999", 0}};
    for (const auto& [text, value] : leading)
        EXPECT_EQ(leadingNumber(QString::fromLatin1(text)), value) << text;

    // Half to even, and nothing ({}) outside the 16-bit range.
    const std::pair<double, std::optional<qint16>> rounded[] = {
        {0.5, 0},           {1.5, 2},           {2.5, 2},           {-2.5, -2},
        {95.4999, 95},      {32767.0, 32767},   {-32768.0, -32768}, {32767.5, {}},
        {-32768.5, -32768}, {1e300 * 1e300, {}}};
    for (const auto& [value, result] : rounded)
        EXPECT_EQ(toInt16Rounded(value), result) << value;

    const std::pair<const char*, std::optional<qint32>> whole[] = {
        {"300", 300},       {" 250 ", 250},
        {"1e3", 1000},      {"3.5", 4},
        {"300abc", {}},     {"", {}},
        {"inf", {}},        {"nan", {}},
        {"2147483648", {}}, {"-2147483648", INT32_MIN},
        {"1e999", {}},      {"1e-999", 0}};
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
    Apply a;
    a.com.ProtocolNo = 3;
    EXPECT_EQ(a.run(), QStringLiteral("ok"));
    EXPECT_EQ(a.store.writeCount(), 0);
    EXPECT_EQ(std::tuple(a.com.ProtocolNo, a.inst, a.com.Rate, a.com.DataBits, a.com.StopBits,
                         a.com.Parity, a.com.PortName, a.com.Timeout),
              std::tuple(qint16(0), qint16(0), QStringLiteral("9600"), QStringLiteral("7"),
                         QStringLiteral("1"), QStringLiteral("EVEN"), QStringLiteral("COM1"),
                         qint32(300)));
    EXPECT_EQ(a.com.calls, QStringList({"ClosePort", "OpenPort"}));
}

TEST(SetSpeed, InvalidValuesAreReplacedAndWrittenBack) {
    Apply a;
    cond::writeStored(a.store, {"modbus rtu", "96", "115200", "8", "2 bit", "MARK", "COM9", "300"});
    ASSERT_EQ(a.run(), QStringLiteral("ok"));
    EXPECT_EQ(std::tuple(a.com.ProtocolNo, a.inst, a.com.Rate, a.com.StopBits),
              std::tuple(qint16(0), qint16(0), QStringLiteral("9600"), QStringLiteral("2")));
    const auto back = cond::readStored(a.store);
    EXPECT_EQ(
        QStringList({back.protocol, back.devNo, back.speed, back.databit, back.party, back.port}),
        QStringList({"KORVAN", "0", "9600", "7 bit", "EVEN", "COM1"}));
}

TEST(SetSpeed, ValuesKeptAsStored) {
    Apply a;
    cond::writeStored(a.store,
                      {"Modbus ASCII", "abc", "9600", "7 bit", "1 bit", "EVEN", "COM12", "250"});
    const int writes = a.store.writeCount();
    ASSERT_EQ(a.run(), QStringLiteral("ok"));
    EXPECT_EQ(a.store.writeCount(), writes);
    EXPECT_EQ(std::tuple(a.com.ProtocolNo, a.inst, a.com.PortName, a.com.Timeout),
              std::tuple(qint16(2), qint16(0), QStringLiteral("COM12"), 250));
    EXPECT_EQ(cond::readStored(a.store).devNo, QStringLiteral("abc"));
    ASSERT_EQ(a.run({{cond::kTimout, "4000"}, {cond::kDevNo, "95"}}), QStringLiteral("ok"));
    EXPECT_EQ(std::pair(a.com.Timeout, a.inst), std::pair(4000, qint16(95)));
}

TEST(SetSpeed, TimeoutOutOfRangeBecomes300) {
    for (const char* bad : {"4001", "50", "99.9", ""}) {
        Apply a;
        ASSERT_EQ(a.run({{cond::kTimout, bad}}), QStringLiteral("ok")) << bad;
        EXPECT_EQ(a.com.Timeout, 300) << bad;
        EXPECT_EQ(cond::readStored(a.store).timout, QStringLiteral("300")) << bad;
    }
}

TEST(SetSpeed, FailuresGiveAnEmptyResult) {
    Apply busy;
    busy.com.openOk = false;
    EXPECT_EQ(busy.run(), QString());
    EXPECT_EQ(busy.why, QStringLiteral("busy"));
    // Conversion failures stop before opening and leave the stored text alone; the
    // instrument number is taken before the time-out.
    const std::tuple<QString, const char*, qint16> cases[] = {{cond::kTimout, "300abc", 0},
                                                              {cond::kDevNo, "40000", 3}};
    for (const auto& [key, text, inst] : cases) {
        Apply a;
        a.inst = 3;
        EXPECT_EQ(a.run({{key, text}}), QString()) << text;
        EXPECT_FALSE(a.why.isEmpty()) << text;
        EXPECT_EQ(a.inst, inst) << text;
        EXPECT_FALSE(a.com.calls.contains(QStringLiteral("OpenPort"))) << text;
        EXPECT_EQ(a.store.value(cond::kSection, key, {}), QLatin1String(text));
    }
}

TEST(ConditionDialog, DeviceAndTimeoutSelection) {
    // The rest of the load step is checked through the dialog.
    EXPECT_EQ(cond::selectEqual(cond::timeoutEntries(), QStringLiteral("4000")), 13);
    for (const auto& [text, index] : {std::pair("95", 95), {"abc", 0}, {"96", -1}, {"99999", -1}})
        EXPECT_EQ(cond::selectDevice(QString::fromLatin1(text)), index) << text;
}

TEST(ConditionDialog, StoredTextsRoundTripThroughQSettingsFile) {
    // QSettings would make a list of a text with a comma if the store did not guard it.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("store.conf"));
    const cond::StoredConditions typed{"Modbus RTU", "1,2", "19200", "8 bit",
                                       "2 bit",      "ODD", "COM3",  "300abc"};
    {
        QSettingsStore store(file);
        cond::writeStored(store, typed);
    }
    const auto back = cond::readStored(QSettingsStore(file));
    EXPECT_EQ(QStringList({back.protocol, back.devNo, back.timout}),
              QStringList({typed.protocol, typed.devNo, typed.timout}));
}

#ifndef Q_OS_WIN
// The automatic COMn -> n-th USB adapter choice is checked through the conditions dialog.
TEST(PortMap, StoredMappingWinsAndCanBeCleared) {
    MemorySettingsStore store;
    PortMap map(store, [] {
        return QList<SerialPortEntry>{{"/dev/serial/by-id/usb-A", "/dev/ttyUSB0", "A", true}};
    });
    map.setMapping(QStringLiteral("COM1"), QStringLiteral("/dev/ttyS0"));
    map.setMapping(QStringLiteral("COM12"), QStringLiteral("/dev/ttyUSB1"));
    EXPECT_EQ(store.value(PortMap::kSection, QStringLiteral("COM1"), {}), "/dev/ttyS0");
    for (const auto& [name, device] : {std::pair("COM1", "/dev/ttyS0"),
                                       {"COM12", "/dev/ttyUSB1"},
                                       {"ttyACM0", "ttyACM0"},
                                       {"/dev/pts/7", "/dev/pts/7"}})
        EXPECT_EQ(map.resolve(QString::fromLatin1(name)), QLatin1String(device)) << name;
    map.setMapping(QStringLiteral("COM1"), QString());
    EXPECT_EQ(map.resolve(QStringLiteral("COM1")), "/dev/serial/by-id/usb-A");
}
#endif

TEST(PortMap, ComNumber) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"COM1", 1}, {"COM12", 12}, {"COM", {}}, {"COM0", {}}, {"COM-1", {}}, {"COMx", {}}};
    for (const auto& [name, number] : cases)
        EXPECT_EQ(PortMap::comNumber(QString::fromLatin1(name)), number) << name;
}
