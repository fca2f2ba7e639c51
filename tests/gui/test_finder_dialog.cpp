// The instrument search in the main window (offscreen, a fake communication object that
// answers only at one set of conditions), and the ports of the condition dialog.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "TestPrinters.h"
#include "Widgets.h"
#include "app/MainWindow.h"
#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "text/StringTable.h"
#include "ui/ConditionsDialog.h"
#include "ui/FinderDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <gtest/gtest.h>

using namespace pmx;
using test::child;

namespace {

test::PrivateSettingsScope g_scope;

const QString kAdapter = QStringLiteral("/dev/serial/by-id/usb-Maker_A-if00-port0");

// Answers as an instrument at `at` would: nothing at any other conditions.
class LineFake : public test::FakeComm {
  public:
    ProbeTarget at{kAdapter, kProtocolModbusRtu, {2400, 8, Parity::None, 1}, 1};
    QByteArray sendCommand(QByteArray& a, QByteArray& s, QByteArray& type, QByteArray& item,
                           QByteArray& data, qint16& n) override {
        const Conditions& c = conditions();
        const bool there = c.port == at.port && c.protocol == at.protocol && lineOf(c) == at.line &&
                           c.instrument == at.instrument;
        const QByteArray answer = FakeComm::sendCommand(a, s, type, item, data, n);
        return there ? answer : QByteArray();
    }
};

struct Window : test::ScriptedPrompts {
    QTemporaryDir home;
    LineFake* com = nullptr;
    std::unique_ptr<MainWindow> w;

    explicit Window(strings::Lang lang = strings::Lang::English) {
        strings::setLanguage(lang);
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        QSettingsStore store; // every test starts from the defaults
        cond::writeStored(store, {"KORVAN", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"});
        store.setValue(PortMap::kSection, QStringLiteral("COM1"), QString());
        auto fake = std::make_unique<LineFake>();
        com = fake.get();
        w = std::make_unique<MainWindow>(std::move(fake), prompts());
        w->setPortDiscovery([] {
            return QList<SerialPortEntry>{{kAdapter, "/dev/ttyUSB7", "Maker A adapter", true}};
        });
        w->startCommunication();
        QCoreApplication::processEvents();
        w->onDispatcherTick();
    }
    ~Window() {
        w->hide();
        strings::setLanguage(strings::Lang::English);
    }
    FinderDialog* finder() {
        w->openFinder();
        return w->finderDialog();
    }
    // Start, and the dispatcher's tick that runs the whole search.
    void search(FinderDialog* d) {
        child<QPushButton>(d, "Command_start")->click();
        ASSERT_EQ(w->pendingTask(), kTaskFind);
        w->onDispatcherTick();
    }
    QString status() const {
        QStringList shown;
        for (int k = 0; k < 8; ++k)
            shown << child<QLabel>(w.get(), "Label_commdat", k)->text();
        return shown.join('|');
    }
};

} // namespace

TEST(FinderWindow, WorstCaseIsStatedBeforeTheStartAndFollowsTheOptions) {
    Window win;
    FinderDialog* d = win.finder();
    auto* estimate = child<QLabel>(d, "Label_estimate");
    EXPECT_TRUE(estimate->text().startsWith("120 tries.")) << estimate->text().toStdString();
    child<QCheckBox>(d, "Check_allinst")->setChecked(true);
    EXPECT_TRUE(estimate->text().startsWith(QString::number(96 * 48 + 95 * 48 + 95 * 24)));
    for (int k = 0; k < 3; ++k)
        child<QCheckBox>(d, "Check_prot", k)->setChecked(false);
    EXPECT_FALSE(child<QPushButton>(d, "Command_start")->isEnabled());
}

TEST(FinderWindow, UseTheseSettingsStoresAppliesAndShowsThemInTheStatusFrame) {
    Window win;
    FinderDialog* d = win.finder();
    child<QRadioButton>(d, "Option_port", 1)->setChecked(true); // every device found
    win.search(d);
    auto* grid = child<QTableWidget>(d, "Grid_found");
    ASSERT_EQ(grid->rowCount(), 1);
    QStringList row;
    for (int k = 0; k < grid->columnCount(); ++k)
        row << grid->item(0, k)->text();
    EXPECT_EQ(row.join('|'), kAdapter + "|Modbus RTU|2400|8 bit|NONE|1 bit|1||good (0000h = 0)");
    // Nothing chosen yet: the conditions in effect are back, the buttons usable again.
    EXPECT_EQ(win.status(), "KORVAN|0|9600|7 bit|1 bit|EVEN|COM1|300");
    EXPECT_TRUE(child<QPushButton>(win.w.get(), "Command_Move_0")->isEnabled());

    child<QPushButton>(d, "Command_use")->click();
    ASSERT_EQ(win.w->pendingTask(), kTaskApply);
    win.w->onDispatcherTick();
    EXPECT_EQ(win.status(), "Modbus RTU|1|2400|8 bit|1 bit|NONE|COM1|300");
    QSettingsStore store;
    EXPECT_EQ(cond::readStored(store).list().join('|'),
              "Modbus RTU|1|2400|8 bit|1 bit|NONE|COM1|300");
    EXPECT_EQ(store.value(PortMap::kSection, "COM1", {}), kAdapter);
    EXPECT_TRUE(child<QLabel>(d, "Label_findstatus")->text().contains(kAdapter));
    // The dialog shows what is in effect now, for the next search.
    QCoreApplication::processEvents();
    EXPECT_EQ(child<QLabel>(d, "Label_instrument")->text(),
              strings::text(TextId::FinderInstrumentInEffect).arg(1));
}

TEST(FinderWindow, CancelClosingAndNothingFoundLeaveTheConditionsInEffect) {
    for (const char* how : {"cancel", "close", "nothing"}) {
        Window win;
        const Conditions before = win.com->conditions();
        win.com->at.port = QStringLiteral("/dev/nowhere");
        QPointer<FinderDialog> d = win.finder();
        int sends = 0;
        win.com->onSend = [&] {
            if (++sends != 3 || QByteArray(how) == "nothing")
                return;
            if (QByteArray(how) == "cancel")
                child<QPushButton>(d, "Command_start")->click();
            else
                d->close();
        };
        win.search(d);
        EXPECT_EQ(sends, QByteArray(how) == "nothing" ? 120 : 3) << how;
        EXPECT_EQ(win.com->conditions(), before) << how;
        EXPECT_EQ(win.w->pendingTask(), kTaskIdle) << how;
        EXPECT_EQ(win.status(), "KORVAN|0|9600|7 bit|1 bit|EVEN|COM1|300") << how;
        if (QByteArray(how) == "cancel") {
            EXPECT_EQ(child<QLabel>(d, "Label_trying")->text(),
                      strings::text(TextId::FinderCancelled).arg(3).arg(0));
        }
        if (QByteArray(how) == "nothing") {
            EXPECT_EQ(child<QLabel>(d, "Label_trying")->text(),
                      strings::text(TextId::FinderNothingFound).arg(120));
            EXPECT_FALSE(child<QPushButton>(d, "Command_use")->isEnabled());
        }
    }
}

TEST(FinderWindow, StatusFrameNamesTheDeviceByItsStableName) {
    Window win;
    ASSERT_TRUE(QDir(win.home.path()).mkpath("by-id"));
    const QString device = win.home.filePath("ttyUSB3");
    const QString stable = win.home.filePath("by-id/usb-Maker_B-port0");
    QFile(device).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(device, stable));
    win.w->setDeviceAliasDir(win.home.filePath("by-id"));
    win.com->devicePath = device;
    win.w->postTask(kTaskApply);
    win.w->onDispatcherTick();
    EXPECT_EQ(child<QLabel>(win.w.get(), "Label_port")->toolTip(),
              "COM1 \u2192 " + stable + " (" + QFileInfo(device).canonicalFilePath() + ")");
}

#ifndef Q_OS_WIN
TEST(ConditionsPorts, TypedDevicesAreCheckedAndRefreshReadsTheDevicesAgain) {
    QTemporaryDir dir;
    const QString file = dir.filePath("notes.txt");
    QFile(file).open(QIODevice::WriteOnly);
    MemorySettingsStore store;
    QList<SerialPortEntry> found = {{kAdapter, "/dev/ttyUSB0", "Maker A adapter", true}};
    auto* dlg = new ConditionsDialog(store, nullptr, [&found] { return found; });
    QPointer<ConditionsDialog> guard(dlg);
    auto* device = dlg->findChild<QComboBox*>("Combo_Device");
    auto* info = dlg->findChild<QLabel*>("Label_device");
    EXPECT_TRUE(device->itemText(1).endsWith("Maker A adapter")) << "maker and product";
    const struct {
        QString typed;
        TextId refusal; // ConditionsInvalid: accepted
    } cases[] = {
        {file, TextId::NotADeviceFile},
        {dir.path(), TextId::NotADeviceFile},
        {"ttyUSB3", TextId::NotADevicePath},
        {"/dev/tty\x01", TextId::NotADevicePath},
        {"tcp://host", TextId::NotANetworkAddress},
        {QString(5000, u'/'), TextId::NotADeviceFile},
        {"/dev/serial/by-id/usb-Unplugged-port0", TextId::ConditionsInvalid},
        {"/dev/null", TextId::ConditionsInvalid},
    };
    for (const auto& c : cases) {
        device->setEditText(c.typed);
        emit device->lineEdit()->editingFinished();
        if (c.refusal == TextId::ConditionsInvalid) {
            EXPECT_EQ(device->currentData().toString(), c.typed) << "chosen";
            continue;
        }
        EXPECT_EQ(info->text().remove(QChar(0x200B)), strings::text(c.refusal).arg(c.typed));
        dlg->storeConditions(); // refused again: the dialog stays for the text to be corrected
        ASSERT_FALSE(guard.isNull()) << c.typed.left(40).toStdString();
        EXPECT_EQ(store.value(PortMap::kSection, "COM1", "<none>"), "<none>");
    }
    device->setEditText("/dev/null");
    dlg->storeConditions();
    EXPECT_EQ(store.value(PortMap::kSection, "COM1", {}), "/dev/null");

    ConditionsDialog again(store, nullptr, [&found] { return found; });
    auto* device2 = again.findChild<QComboBox*>("Combo_Device");
    const int before = device2->count();
    found << SerialPortEntry{"/dev/serial/by-id/usb-B-port0", "/dev/ttyUSB1", "Maker B", true};
    child<QPushButton>(&again, "Command_refresh")->click();
    EXPECT_EQ(device2->count(), before + 1);
    EXPECT_EQ(device2->currentData().toString(), "/dev/null") << "the choice is kept";
}
#endif
