// The dialogs on their own: the selection dialog's second copy of the selections, the
// value dialog's buttons (the pad rules are the value pad's tests), and the conditions
// dialog's typed texts, devices and station-0 hint.
#include "Widgets.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include "text/StringTable.h"
#include "ui/Colours.h"
#include "ui/ConditionsDialog.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/ValuePadDialog.h"
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

using namespace pmx;
using test::activate;
using test::child;

namespace {

// Whether a dialog that deletes itself on closing is gone.
template <class T> bool gone(const QPointer<T>& p) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return p.isNull();
}

void click(QWidget* dlg, const char* name) {
    child<QPushButton>(dlg, QString::fromLatin1(name))->click();
}

ItemTable namedTable() {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = QStringLiteral("Item %1").arg(i);
        t.values[i] = qint16(i * 10);
    }
    return t;
}

QCheckBox* box(QWidget* dlg, int i) {
    return child<QCheckBox>(dlg, "Check1", i);
}

// In-memory store whose stored texts a test reads back by key.
class RecordingStore : public MemorySettingsStore {
  public:
    void setValue(const QString& section, const QString& key, const QString& value) override {
        writes << section + QLatin1Char('/') + key;
        MemorySettingsStore::setValue(section, key, value);
    }
    QStringList writes;
    QString get(const QString& key, const QString& section = QStringLiteral("DKR4073")) const {
        return value(section, key, QStringLiteral("<missing>"));
    }
};

QList<SerialPortEntry> twoAdapters() {
    return {{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5ABC-if00-port0"),
             QStringLiteral("/dev/ttyUSB0"), QStringLiteral("Maker A adapter"), true},
            {QStringLiteral("/dev/serial/by-id/usb-B-port0"), QStringLiteral("/dev/ttyUSB1"),
             QStringLiteral("Maker B adapter"), true},
            {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS0"), QString(), false}};
}

QComboBox* comboOf(QWidget* dlg, const char* name) {
    return child<QComboBox>(dlg, QString::fromLatin1(name));
}

} // namespace

TEST(ItemSelectionDialog, BoxesFollowTheTableWhenShownAndOkCopiesThemBack) {
    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        ItemTable t = namedTable();
        t.names[68] = QStringLiteral("----");
        t.selections[68] = Selection::Selected; // the state file had it selected
        t.selections[35] = Selection::Selected;
        t.selections[127] = Selection::Partial;
        QPointer<ItemSelectionDialog> dlg = new ItemSelectionDialog(t);
        // Newly created for an undefined leading item: the write of all items must not see it.
        EXPECT_FALSE(dlg->boxTicked(68));
        EXPECT_TRUE(dlg->boxTicked(35));
        // A data file load cleared box 35; ticking it on the main window changes selections.
        dlg->setBox(35, Selection::Cleared);
        QCoreApplication::processEvents();
        EXPECT_FALSE(dlg->boxTicked(35));
        dlg->setItemToolTip(35, QStringLiteral("renamed"));
        EXPECT_EQ(box(dlg, 35)->toolTip(), QStringLiteral("renamed"));

        // Showing resets every box, disabled ones included, from the table.
        dlg->show();
        EXPECT_TRUE(dlg->boxTicked(35));
        EXPECT_TRUE(dlg->boxTicked(68));
        EXPECT_FALSE(box(dlg, 68)->isEnabled()) << "activation does not enable boxes";
        EXPECT_EQ(box(dlg, 35)->toolTip(), t.names[35]);
        box(dlg, 35)->click();
        box(dlg, 20)->click();
        click(dlg, ok ? "Command1" : "Command2");
        EXPECT_TRUE(gone(dlg));
        // OK: a disabled box passes its checked state, and flags become plain 0/1.
        using enum Selection;
        EXPECT_EQ(QList<Selection>(
                      {t.selections[68], t.selections[35], t.selections[20], t.selections[127]}),
                  ok ? QList<Selection>({Selected, Cleared, Selected, Cleared})
                     : QList<Selection>({Selected, Selected, Cleared, Partial}));
    }
}

TEST(ItemSelectionDialog, SelectAllAndClearAllLeaveTheBoxesOfUndefinedItemsAlone) {
    ItemTable t = namedTable();
    t.names[68] = QStringLiteral("----"); // undefined, once selected by a state file
    t.names[69] = QStringLiteral("Spare----");
    t.selections[68] = Selection::Selected;
    QPointer<ItemSelectionDialog> dlg = new ItemSelectionDialog(t);
    dlg->show();
    click(dlg, "Command_all");
    for (int i = 0; i < kItemCount; ++i)
        EXPECT_EQ(dlg->boxTicked(i), i != 69) << i; // 68 ticked as the file had it
    click(dlg, "Command_none");
    for (int i = 0; i < kItemCount; ++i)
        EXPECT_EQ(dlg->boxTicked(i), i == 68) << i;
    click(dlg, "Command1");
    EXPECT_TRUE(gone(dlg));
    EXPECT_EQ(std::count(t.selections.begin(), t.selections.end(), Selection::Selected), 1);
    EXPECT_TRUE(t.isSelected(68));
}

TEST(ItemSelectionDialog, ReturnFromProgramWindowResetsButNotFromAnotherApplication) {
    ItemTable t = namedTable();
    t.selections[5] = Selection::Selected;
    QWidget main;
    main.resize(200, 100);
    main.show();
    ASSERT_TRUE(activate(&main));

    auto* dlg = new ItemSelectionDialog(t, &main);
    dlg->show();
    ASSERT_TRUE(activate(dlg));
    EXPECT_TRUE(dlg->boxTicked(5));

    // Changes are lost when the operator goes to the main window and back.
    box(dlg, 5)->click();
    box(dlg, 7)->click();
    ASSERT_FALSE(dlg->boxTicked(5));
    ASSERT_TRUE(activate(&main));
    EXPECT_FALSE(dlg->boxTicked(5)) << "leaving the dialog changes nothing";
    ASSERT_TRUE(activate(dlg));
    EXPECT_TRUE(dlg->boxTicked(5));
    EXPECT_FALSE(dlg->boxTicked(7));

    // Another application had the focus (this program had none): nothing is reset.
    box(dlg, 5)->click();
    QWindow* const own = dlg->windowHandle();
    emit qApp->focusWindowChanged(nullptr);
    emit qApp->focusWindowChanged(own);
    EXPECT_FALSE(dlg->boxTicked(5));
    delete dlg;
}

TEST(ValueDialog, OkRefusesAValueOutOfRangeAndStoresForTheItemShown) {
    ItemTable t = namedTable();
    t.currentItem = 37;
    QPointer<ValuePadDialog> dlg = new ValuePadDialog(t);
    dlg->setItem(37);
    int stored = 0;
    QObject::connect(dlg.data(), &ValuePadDialog::valueStored, [&stored] { ++stored; });
    dlg->show();
    auto* entry = child<QLineEdit>(dlg, "Disp_setdata");
    for (int digit : {3, 2, 7, 6, 8})
        child<QPushButton>(dlg, "Ten_key", digit)->click();
    click(dlg, "Command3");
    EXPECT_FALSE(gone(dlg));
    EXPECT_EQ(stored, 0);
    EXPECT_FALSE(entry->toolTip().isEmpty());
    EXPECT_EQ(entry->palette().color(QPalette::Text),
              toneColour(Tone::Failure, dlg->palette(), QPalette::Base));
    auto* why = child<QLabel>(dlg, "Label_refusal"); // said in words in the dialog
    EXPECT_TRUE(why->isVisible());
    EXPECT_EQ(why->text(), strings::text(TextId::ValueOutOfRange));

    click(dlg, "Command1"); // "+/-": it fits, the mark and the words go
    EXPECT_EQ(entry->palette().color(QPalette::Text), dlg->palette().color(QPalette::Text));
    EXPECT_FALSE(why->isVisible());
    dlg->setItem(0); // the entry stays; the item it is stored for changes
    click(dlg, "Command3");
    EXPECT_TRUE(gone(dlg));
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(t.values[0], -32768);
    EXPECT_EQ(t.values[37], 370);
    EXPECT_EQ(t.currentItem, 0) << "the item sent afterwards is the one stored";
}

TEST(ConditionsDialog, BlockReadsShownAndStoredBesideTheRecord) {
    const struct {
        const char *on, *max; // stored texts; nullptr: absent
        bool tick;            // the operator's change before OK
        int setMax;
        bool checked; // as loaded
        int shownMax;
        QStringList written; // block keys written on OK
    } cases[] = {
        {nullptr, nullptr, false, 125, false, 125, {}},
        {nullptr, nullptr, true, 30, false, 125, {"Options/BlockRead", "Options/BlockMax"}},
        {"1", "999", false, 125, true, 125, {}}, // unreadable count shown as 125, not rewritten
        {"1", "50", true, 50, true, 50, {"Options/BlockRead", "Options/BlockMax"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.on ? c.on : "-") + "/" + (c.max ? c.max : "-"));
        RecordingStore store;
        if (c.on)
            store.setValue(cond::kOptionsSection, cond::kBlockRead, c.on);
        if (c.max)
            store.setValue(cond::kOptionsSection, cond::kBlockMax, c.max);
        store.writes.clear();
        auto* dlg = new ConditionsDialog(store, nullptr, twoAdapters);
        dlg->show();
        auto* check = child<QCheckBox>(dlg, "Check_BlockRead");
        auto* spin = child<QSpinBox>(dlg, "Spin_BlockMax");
        EXPECT_EQ(check->isChecked(), c.checked);
        EXPECT_EQ(spin->value(), c.shownMax);
        EXPECT_EQ(spin->isEnabled(), c.checked) << "the count only matters when on";
        if (c.tick)
            check->click();
        spin->setValue(c.setMax);
        click(dlg, "Command1");
        EXPECT_EQ(store.writes.mid(8), c.written);
        if (!c.written.isEmpty()) {
            EXPECT_EQ(cond::readBlockSetting(store),
                      (cond::BlockReadSetting{c.checked != c.tick, c.setMax}));
        }
    }
}

TEST(ConditionsDialog, TypedTextIsStoredAsTypedNeverCompleted) {
    // Completion would make these 500, 4800 and "Modbus ASCII".
    for (const auto& [combo, typed, key] : {std::tuple{"Combo_Time", "50", "Timout"},
                                            {"Combo_Rate", "4", "Speed"},
                                            {"Combo_Prot", "Mod", "Protocol"}}) {
        RecordingStore store;
        auto* dlg = new ConditionsDialog(store, nullptr, twoAdapters);
        dlg->show();
        ASSERT_TRUE(activate(dlg)); // completion, when there is one, needs the focus
        QLineEdit* edit = comboOf(dlg, combo)->lineEdit();
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, QString::fromLatin1(typed));
        click(dlg, "Command1");
        EXPECT_EQ(store.get(QString::fromLatin1(key)).toStdString(), typed) << combo;
    }
}

TEST(ConditionsDialog, BroadcastHintOnlyForModbusStationZero) {
    RecordingStore store;
    cond::writeStored(store,
                      {"Modbus ASCII", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"});
    ConditionsDialog dlg(store, nullptr, twoAdapters);
    dlg.setAttribute(Qt::WA_DeleteOnClose, false);
    dlg.show();
    auto* hint = child<QLabel>(&dlg, "Label_broadcast");
    ASSERT_TRUE(hint->isVisible()) << "stored that way, said as the dialog opens";
    // Station as the apply step takes it: only a text saying 0 broadcasts under Modbus (the
    // apply refuses 96 or a text without a number there); an unknown protocol is KORVAN.
    for (const auto& [protocol, devNo, shown] : {std::tuple{"KORVAN", "0", false},
                                                 {"Modbus RTU", "0", true},
                                                 {"Modbus RTU", "1", false},
                                                 {"Modbus RTU", "96", false},
                                                 {"Modbus RTU", "abc", false},
                                                 {"Modbus RTU", "99999", false},
                                                 {"modbus rtu", "0", false}}) {
        comboOf(&dlg, "Combo_Prot")->setEditText(QString::fromLatin1(protocol));
        comboOf(&dlg, "Combo_Dev")->setEditText(QString::fromLatin1(devNo));
        QCoreApplication::processEvents();
        EXPECT_EQ(hint->isVisible(), shown) << protocol << " / " << devNo;
        if (shown) { // wrapped in full inside the dialog
            EXPECT_GE(hint->height(), hint->heightForWidth(hint->width()));
        }
    }
}

#ifndef Q_OS_WIN
// A typed device is looked at before it is stored for the COM; a network address leaves
// the line settings unused.
TEST(ConditionsDialog, TypedDevicesAreCheckedAndANetworkAddressNeedsNoLineSettings) {
    QTemporaryDir dir;
    const QString file = dir.filePath("notes.txt");
    QFile(file).open(QIODevice::WriteOnly);
    RecordingStore store;
    QList<SerialPortEntry> found = twoAdapters();
    auto* dlg = new ConditionsDialog(store, nullptr, [&found] { return found; });
    QPointer<ConditionsDialog> guard(dlg);
    auto* info = child<QLabel>(dlg, "Label_device");
    auto* device = comboOf(dlg, "Combo_Device");
    EXPECT_TRUE(device->itemText(1).endsWith("Maker A adapter")) << "maker and product";
    device->setCurrentIndex(1);
    emit device->activated(1);
    EXPECT_EQ(device->lineEdit()->cursorPosition(), 0) << "a long name is read from its start";
    const auto choose = [](QComboBox* box, const QString& typed) {
        box->setEditText(typed);
        emit box->lineEdit()->editingFinished();
        return box->currentData().toString();
    };
    const auto lineSettingsUsed = [&] {
        QStringList used;
        for (const char* name : {"Combo_Rate", "Combo_Dat", "Combo_Stop", "Combo_Party"})
            used << QString::number(comboOf(dlg, name)->isEnabled());
        return used.join(',');
    };
    comboOf(dlg, "Combo_Port")->setCurrentIndex(1); // COM2

    // A slip is shown and keeps the dialog open; nothing is stored.
    const std::pair<QString, TextId> refused[] = {
        {file, TextId::NotADeviceFile},
        {dir.path(), TextId::NotADeviceFile},
        {QString(5000, u'/'), TextId::NotADeviceFile},
        {"ttyUSB3", TextId::NotADevicePath},
        {"/dev/tty\x01", TextId::NotADevicePath},
        {"tcp://10.0.0.9", TextId::NotANetworkAddress},
    };
    for (const auto& [typed, why] : refused) {
        SCOPED_TRACE(typed.left(40).toStdString());
        device->setEditText(typed);
        click(dlg, "Command1");
        ASSERT_FALSE(gone(guard));
        EXPECT_EQ(info->text().remove(QChar(0x200B)), strings::text(why).arg(typed));
        EXPECT_EQ(lineSettingsUsed(), "1,1,1,1");
    }
    EXPECT_TRUE(store.writes.isEmpty());
    EXPECT_EQ(choose(device, "/dev/serial/by-id/usb-Unplugged-port0"),
              "/dev/serial/by-id/usb-Unplugged-port0");
    EXPECT_EQ(choose(device, "/dev/null"), "/dev/null");

    const QString address = QStringLiteral("tcp://[fe80::1]:4001");
    EXPECT_EQ(choose(device, " " + address + " "), address);
    EXPECT_EQ(info->toolTip(), address);
    EXPECT_TRUE(info->text().endsWith(strings::text(TextId::NetworkLineUnused)));
    EXPECT_EQ(lineSettingsUsed(), "0,0,0,0");
    // Another COM is still a serial line; back on COM2 the address is pending.
    comboOf(dlg, "Combo_Port")->setCurrentIndex(0);
    EXPECT_EQ(lineSettingsUsed(), "1,1,1,1");
    comboOf(dlg, "Combo_Port")->setCurrentIndex(1);
    EXPECT_EQ(lineSettingsUsed(), "0,0,0,0");
    click(dlg, "Command1");
    EXPECT_TRUE(gone(guard));
    EXPECT_EQ(store.get("COM2", PortMap::kSection), address);
    EXPECT_EQ(store.get("Port"), QStringLiteral("COM2")) << "the stored port stays a COMn";
    EXPECT_EQ(store.get("Speed"), QStringLiteral("9600")) << "kept for a serial line later";

    // Opened again: a refresh reads the devices again and keeps the choice; a device path
    // makes the line settings count again.
    ConditionsDialog again(store, nullptr, [&found] { return found; });
    again.setAttribute(Qt::WA_DeleteOnClose, false);
    auto* device2 = comboOf(&again, "Combo_Device");
    const int before = device2->count();
    found << SerialPortEntry{"/dev/serial/by-id/usb-C-port0", "/dev/ttyUSB2", "Maker C", true};
    child<QPushButton>(&again, "Command_refresh")->click();
    EXPECT_EQ(device2->count(), before + 1);
    EXPECT_EQ(device2->currentData().toString(), address);
    EXPECT_EQ(choose(device2, "/dev/ttyAMA0"), "/dev/ttyAMA0");
    EXPECT_TRUE(comboOf(&again, "Combo_Rate")->isEnabled());
}
#endif
