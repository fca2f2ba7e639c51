// The conditions dialog: stored texts in, texts as shown out, and the port row's device map.
#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "ui/SubDisp_comm.h"
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

// In-memory store that also remembers the order of writes.
class RecordingStore : public MemorySettingsStore {
  public:
    void setValue(const QString& section, const QString& key, const QString& value) override {
        writes << section + QLatin1Char('/') + key;
        MemorySettingsStore::setValue(section, key, value);
    }
    QString get(const QString& key, const QString& section = QStringLiteral("DKR4073")) const {
        return value(section, key, QStringLiteral("<missing>"));
    }
    QStringList writes;
};

QList<SerialPortEntry> twoAdapters() {
    return {{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5ABC-if00-port0"),
             QStringLiteral("/dev/ttyUSB0"), QStringLiteral("Maker A adapter"), true},
            {QStringLiteral("/dev/serial/by-id/usb-B-port0"), QStringLiteral("/dev/ttyUSB1"),
             QStringLiteral("Maker B adapter"), true},
            {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS0"), QString(), false}};
}

QComboBox* comboOf(QWidget* dlg, const char* name) {
    return dlg->findChild<QComboBox*>(QString::fromLatin1(name));
}

const char* const kCombos[8] = {"Combo_Prot", "Combo_Dev",   "Combo_Rate", "Combo_Dat",
                                "Combo_Stop", "Combo_Party", "Combo_Port", "Combo_Time"};

bool deleted(const QPointer<SubDisp_comm>& p) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return p.isNull();
}

} // namespace

TEST(SubDispComm, EmptyStoreShowsDefaultsAndWritesNothing) {
    RecordingStore store;
    SubDisp_comm dlg(store, nullptr, twoAdapters);
    dlg.setAttribute(Qt::WA_DeleteOnClose, false);

    EXPECT_EQ(comboOf(&dlg, "Combo_Dev")->count(), 96);
    EXPECT_EQ(dlg.statusTexts(),
              QStringList({"KORVAN", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"}));
    EXPECT_EQ(comboOf(&dlg, "Combo_Time")->currentIndex(), 2);
    // Closing otherwise than with OK stores nothing.
    int stored = 0;
    QObject::connect(&dlg, &SubDisp_comm::conditionsStored, [&stored] { ++stored; });
    dlg.show();
    comboOf(&dlg, "Combo_Rate")->setCurrentIndex(0);
    dlg.close();
    EXPECT_EQ(stored, 0);
    EXPECT_EQ(store.writeCount(), 0);
}

TEST(SubDispComm, LoadSelectsFromStoredTexts) {
    RecordingStore store;
    const QString s = QStringLiteral("DKR4073");
    store.setValue(s, "Protocol", "Modbus RTU");
    store.setValue(s, "DevNo", "17abc");  // leading number
    store.setValue(s, "Speed", "115200"); // not offered
    store.setValue(s, "Databit", "8");    // anything but "7 bit" is the 8-bit entry
    store.setValue(s, "Stopbit", "1 bit");
    store.setValue(s, "Party", "odd"); // entries match exactly
    store.setValue(s, "Port", "COM12");
    store.setValue(s, "Timout", "250");
    SubDisp_comm dlg(store, nullptr, twoAdapters);
    dlg.setAttribute(Qt::WA_DeleteOnClose, false);

    const int expected[8] = {2, 17, -1, 1, 0, -1, -1, -1};
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(comboOf(&dlg, kCombos[r])->currentIndex(), expected[r]) << kCombos[r];
    // No list selection, but the stored text is kept visible so OK does not lose it.
    EXPECT_EQ(dlg.statusTexts(),
              QStringList({"Modbus RTU", "17", "115200", "8 bit", "1 bit", "odd", "COM12", "250"}));

    store.setValue(s, "Databit", "7 bit");
    store.setValue(s, "Stopbit", "2");
    SubDisp_comm again(store, nullptr, twoAdapters);
    again.setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(comboOf(&again, "Combo_Dat")->currentText(), QStringLiteral("7 bit"));
    EXPECT_EQ(comboOf(&again, "Combo_Stop")->currentText(), QStringLiteral("2 bit"));
}

TEST(SubDispComm, OkStoresTextsAsShownInOrder) {
    RecordingStore store;
    auto* dlg = new SubDisp_comm(store, nullptr, twoAdapters);
    QPointer<SubDisp_comm> guard(dlg);
    int stored = 0;
    QObject::connect(dlg, &SubDisp_comm::conditionsStored, [&stored] { ++stored; });
    dlg->show();
    comboOf(dlg, "Combo_Prot")->setCurrentIndex(1);
    comboOf(dlg, "Combo_Dev")->setCurrentIndex(95);
    comboOf(dlg, "Combo_Dat")->setEditText(QStringLiteral("nine bits")); // unchecked
    comboOf(dlg, "Combo_Time")->setCurrentIndex(13);
    dlg->findChild<QPushButton*>(QStringLiteral("Command1"))->click();

    EXPECT_EQ(stored, 1);
    EXPECT_TRUE(deleted(guard));
    EXPECT_EQ(store.writes,
              QStringList({"DKR4073/Protocol", "DKR4073/DevNo", "DKR4073/Speed", "DKR4073/Databit",
                           "DKR4073/Stopbit", "DKR4073/Party", "DKR4073/Port", "DKR4073/Timout"}));
    EXPECT_EQ(store.get("Protocol"), QStringLiteral("Modbus ASCII"));
    EXPECT_EQ(store.get("DevNo"), QStringLiteral("95"));
    EXPECT_EQ(store.get("Databit"), QStringLiteral("nine bits"));
    EXPECT_EQ(store.get("Party"), QStringLiteral("EVEN"));
    EXPECT_EQ(store.get("Timout"), QStringLiteral("4000"));
    EXPECT_FALSE(store.contains(PortMap::kSection, "COM1")) << "untouched port map not written";
}

#ifndef Q_OS_WIN
TEST(SubDispComm, PortRowShowsAndMapsTheDevice) {
    RecordingStore store;
    auto* dlg = new SubDisp_comm(store, nullptr, twoAdapters);
    QPointer<SubDisp_comm> guard(dlg);
    auto* info = dlg->findChild<QLabel*>(QStringLiteral("Label_device"));
    auto* device = comboOf(dlg, "Combo_Device");
    ASSERT_NE(info, nullptr);
    ASSERT_NE(device, nullptr);
    // Automatic: COMn is the n-th USB adapter.
    EXPECT_TRUE(info->toolTip().endsWith(QStringLiteral("A10K5ABC-if00-port0")));
    EXPECT_TRUE(info->text().startsWith(QStringLiteral("COM1 ")));
    comboOf(dlg, "Combo_Port")->setCurrentIndex(1);
    EXPECT_EQ(info->toolTip(), QStringLiteral("/dev/serial/by-id/usb-B-port0"));
    comboOf(dlg, "Combo_Port")->setCurrentIndex(2);
    EXPECT_TRUE(info->text().contains(QStringLiteral("COM3")));
    EXPECT_TRUE(info->toolTip().isEmpty()) << "only two USB adapters";

    // Map COM3 to the on-board port; only OK stores the choice.
    const int onboard = device->findData(QStringLiteral("/dev/ttyS0"));
    ASSERT_GE(onboard, 0);
    device->setCurrentIndex(onboard);
    emit device->activated(onboard);
    EXPECT_EQ(info->toolTip(), QStringLiteral("/dev/ttyS0"));
    EXPECT_FALSE(store.contains(PortMap::kSection, "COM3"));
    // Typed non-COM text: nothing to map.
    comboOf(dlg, "Combo_Port")->setEditText(QStringLiteral("ttyS0"));
    EXPECT_FALSE(device->isEnabled());
    EXPECT_TRUE(info->text().isEmpty());
    comboOf(dlg, "Combo_Port")->setCurrentIndex(2);
    EXPECT_EQ(device->currentData().toString(), QStringLiteral("/dev/ttyS0")) << "pending kept";
    dlg->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    EXPECT_TRUE(deleted(guard));
    EXPECT_EQ(store.get("COM3", PortMap::kSection), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(store.get("Port"), QStringLiteral("COM3"));

    // Next time the stored device is shown, also when it is unplugged.
    SubDisp_comm unplugged(store, nullptr, [] { return QList<SerialPortEntry>(); });
    unplugged.setAttribute(Qt::WA_DeleteOnClose, false);
    auto* device2 = comboOf(&unplugged, "Combo_Device");
    EXPECT_EQ(device2->currentData().toString(), QStringLiteral("/dev/ttyS0"));
    comboOf(&unplugged, "Combo_Port")->setCurrentIndex(0);
    EXPECT_EQ(device2->currentIndex(), 0) << "COM1 is automatic";
    EXPECT_FALSE(unplugged.findChild<QLabel*>(QStringLiteral("Label_device"))->text().isEmpty());
}
#endif
