// The communication conditions: stored texts, the apply step, the numbers under them and
// the port map.
#include "FakeComm.h"
#include "TestPrinters.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "text/Numbers.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace pmx;

#ifdef Q_OS_LINUX
TEST(SettingsStore, UserStoreIsTheOrganisationFile) {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    QSettingsStore store;
    EXPECT_EQ(store.fileName(), dir.filePath(QStringLiteral("KORVAN DELTRIS.conf")));
    store.setValue(cond::kSection, cond::kPort, QStringLiteral("COM2"));
    QFile file(store.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)); // written at once, no event loop needed
    EXPECT_TRUE(file.readAll().contains("[DKR4073]\nPort=COM2"));
}
#endif

// Rounding to 16 bits is checked through the table file's fields (FieldReader tests).
TEST(Numbers, LeadingNumberAndWholeTextsInEveryLocale) {
    const std::pair<const char*, double> leading[] = {
        {"300abc", 300}, {"  -12.5e1x", -125}, {"+.5", 0.5}, {"12e", 12}, {"abc", 0},
        {"-", 0},        {"1e999", HUGE_VAL},  {"1e-999", 0}};
    for (const auto& [text, value] : leading)
        EXPECT_EQ(leadingNumber(QString::fromLatin1(text)), value) << '"' << text << '"';

    const std::pair<const char*, std::optional<qint32>> whole[] = {
        {"300", 300},       {" 250 ", 250}, {"1e3", 1000}, {"3.5", 4},  {"-2147483648", INT32_MIN},
        {"2147483648", {}}, {"300abc", {}}, {"", {}},      {"inf", {}}, {"nan", {}},
        {"1e999", {}}};
    for (const auto& [text, result] : whole)
        EXPECT_EQ(toInt32Whole(QString::fromLatin1(text)), result) << '"' << text << '"';

    // A German locale writes a decimal comma; stored texts are always C-locale numbers.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(leadingNumber(QStringLiteral("1.5")), 1.5);
    EXPECT_EQ(leadingNumber(QStringLiteral("1,5")), 1.0);
    EXPECT_EQ(toInt32Whole(QStringLiteral("2.5")), 2);
    QLocale::setDefault(QLocale::c());
}

TEST(ApplyConditions, StoredTextsInEffectAndWrittenBack) {
    using Texts = cond::StoredConditions;
    const Texts defaults{"KORVAN", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"};
    const auto timeout = [&](const char* text) {
        Texts t = defaults;
        t.timeout = QString::fromLatin1(text);
        return t;
    };
    const struct {
        std::optional<Texts> stored; // nullopt: nothing stored
        Texts inEffect;
        bool writtenBack; // the texts in effect are stored afterwards
    } cases[] = {
        {std::nullopt, defaults, false},
        {Texts{"modbus rtu", "96", "115200", "8", "2 bit", "MARK", "COM9", "300"},
         {"KORVAN", "0", "9600", "7 bit", "2 bit", "EVEN", "COM1", "300"},
         true},
        {Texts{"Modbus ASCII", "0", "19200", "8 bit", "1 bit", "ODD", "COM12", "250"},
         {"Modbus ASCII", "0", "19200", "8 bit", "1 bit", "ODD", "COM12", "250"},
         false},
        {Texts{"KORVAN", "abc", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"}, defaults, false},
        {timeout("4000"), timeout("4000"), false},
        {timeout("4001"), defaults, true},
        {timeout("99.9"), defaults, true},
        {timeout(""), defaults, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->list().join(u'|').toStdString() : "nothing stored");
        MemorySettingsStore store;
        if (c.stored)
            cond::writeStored(store, *c.stored);
        const int writes = store.writeCount();
        test::FakeComm com;
        const ApplyResult r = applyConditions(com, store);
        EXPECT_TRUE(r.opened()) << r.why.toStdString();
        EXPECT_EQ(cond::toTexts(com.conditions()).list(), c.inEffect.list());
        if (c.writtenBack)
            EXPECT_EQ(cond::readStored(store).list(), c.inEffect.list());
        else
            EXPECT_EQ(store.writeCount(), writes);
    }
}

// Shown and stored by the conditions dialog (ConditionsDialog tests); here what is applied.
TEST(ApplyConditions, BlockReadsBesideTheRecordAbsentMeansOff) {
    const struct {
        const char* on;  // nullptr: absent
        const char* max; // nullptr: absent
        bool inEffect;
        int maxInEffect;
    } cases[] = {
        {nullptr, nullptr, false, 125}, {"1", "40", true, 40},   {"0", "40", false, 40},
        {"yes", nullptr, false, 125},   {" 1 ", "2", true, 2},   {"1", "1", true, 125},
        {"1", "126", true, 125},        {"1", "12x", true, 125}, {"1", "", true, 125},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.on ? c.on : "-") + "/" + (c.max ? c.max : "-"));
        MemorySettingsStore store;
        cond::writeStored(store,
                          {"Modbus RTU", "1", "9600", "8 bit", "1 bit", "EVEN", "COM1", "300"});
        if (c.on)
            store.setValue(cond::kOptionsSection, cond::kBlockRead, QString::fromLatin1(c.on));
        if (c.max)
            store.setValue(cond::kOptionsSection, cond::kBlockMax, QString::fromLatin1(c.max));
        const int writes = store.writeCount();
        test::FakeComm com;
        applyConditions(com, store);
        EXPECT_EQ(com.conditions().blockRead, c.inEffect);
        EXPECT_EQ(com.conditions().blockMax, c.maxInEffect);
        EXPECT_EQ(store.writeCount(), writes) << "nothing written back";
    }
}

TEST(Options, MovedOutOfTheRecordOnceReadWhereverTheyAre) {
    MemorySettingsStore store;
    cond::writeStored(store, {"Modbus RTU", "1", "9600", "8 bit", "1 bit", "EVEN", "COM1", "300"});
    store.setValue(cond::kSection, cond::kVerifyAfterWrite, "1");
    store.setValue(cond::kSection, cond::kBlockRead, "1");
    store.setValue(cond::kSection, cond::kBlockMax, "40");
    store.setValue(cond::kOptionsSection, cond::kBlockMax, "60"); // already moved: it wins
    // Before the move (a command line run before the window's first start): read where
    // they are.
    EXPECT_EQ(cond::readBlockSetting(store), (cond::BlockReadSetting{true, 60}));
    EXPECT_EQ(cond::moveOptionsOutOfTheRecord(store), 3);
    for (const QString& key : cond::kOptionsOnceInTheRecord)
        EXPECT_FALSE(store.contains(cond::kSection, key)) << key.toStdString();
    EXPECT_EQ(cond::readStored(store).list().join('|'),
              "Modbus RTU|1|9600|8 bit|1 bit|EVEN|COM1|300");
    EXPECT_EQ(store.value(cond::kOptionsSection, cond::kVerifyAfterWrite, {}), "1");
    EXPECT_EQ(cond::readBlockSetting(store), (cond::BlockReadSetting{true, 60}));
    const int writes = store.writeCount();
    EXPECT_EQ(cond::moveOptionsOutOfTheRecord(store), 0);
    EXPECT_EQ(store.writeCount(), writes) << "nothing to move the second time";
}

TEST(ApplyConditions, FailuresSayWhy) {
    MemorySettingsStore store;
    test::FakeComm busy;
    busy.openOk = false;
    busy.openErrorText = QStringLiteral("busy");
    const ApplyResult r = applyConditions(busy, store);
    EXPECT_EQ(std::pair(r.outcome, r.why),
              std::pair(ApplyResult::Outcome::PortNotOpened, QStringLiteral("busy")));
    // Unconvertible texts stop before opening and stay stored; the instrument number is
    // taken before the time-out. Under Modbus a number that would fall back to station 0
    // is refused: it would turn every write into a broadcast.
    const std::tuple<QString, const char*, const char*, qint16, TextId> cases[] = {
        {cond::kTimeoutKey, "300abc", "KORVAN", 0, TextId::TimeoutNotANumber},
        {cond::kDevNo, "40000", "KORVAN", 3, TextId::InstrumentOutOfRange},
        {cond::kDevNo, "96", "Modbus RTU", 3, TextId::InstrumentOutOfRange},
        {cond::kDevNo, "x", "Modbus ASCII", 3, TextId::InstrumentNotANumber},
        {cond::kDevNo, "0.4", "Modbus RTU", 3, TextId::InstrumentNotANumber}};
    for (const auto& [key, text, protocol, inst, why] : cases) {
        SCOPED_TRACE(text);
        MemorySettingsStore s;
        s.setValue(cond::kSection, cond::kProtocol, QString::fromLatin1(protocol));
        s.setValue(cond::kSection, key, QString::fromLatin1(text));
        test::FakeComm com;
        com.setConditions({.instrument = 3});
        const ApplyResult u = applyConditions(com, s);
        EXPECT_EQ(u.outcome, ApplyResult::Outcome::UnreadableText);
        EXPECT_EQ(u.why, strings::text(why).arg(QString::fromLatin1(text)));
        EXPECT_EQ(com.conditions().instrument, inst);
        EXPECT_TRUE(com.lastDevice().isEmpty()) << "never opened";
        EXPECT_EQ(s.value(cond::kSection, key, {}), QString::fromLatin1(text));
    }
}

TEST(ConditionDialog, DeviceSelectionAndTextsThatSurviveTheSettingsFile) {
    for (const auto& [text, index] : {std::pair("95", 95), {"abc", 0}, {"96", -1}, {"99999", -1}})
        EXPECT_EQ(cond::selectDevice(QString::fromLatin1(text)), index) << text;
    // QSettings would make a list of a text with a comma if the store did not guard it.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("store.conf"));
    const cond::StoredConditions typed{"Modbus RTU", "1,2", "19200", "8 bit",
                                       "2 bit",      "ODD", "COM3",  "300abc"};
    {
        QSettingsStore store(file);
        cond::writeStored(store, typed);
    }
    EXPECT_EQ(cond::readStored(QSettingsStore(file)).list(), typed.list());
}

#ifndef Q_OS_WIN
// Storing a mapping and opening through it is checked end to end
// (FinderE2E.TypedDevicePathIsStoredThroughThePortMapAndOpened).
TEST(PortMap, StoredMappingWinsAndCanBeCleared) {
    MemorySettingsStore store;
    PortMap map(store, [] {
        return QList<SerialPortEntry>{{"/dev/serial/by-id/usb-A", "/dev/ttyUSB0", "A", true}};
    });
    map.setMapping(QStringLiteral("COM1"), QStringLiteral("/dev/ttyS0"));
    for (const auto& [name, device] :
         {std::pair("COM1", "/dev/ttyS0"), {"ttyACM0", "ttyACM0"}, {"/dev/pts/7", "/dev/pts/7"}})
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
