// The main window with the real serial object, driven as the operator drives it, against
// the virtual instrument on a pty, for each protocol. The instrument number is 7 so that
// addressing is exercised; the settings and the port map are the real store.
#include "ScriptedPrompts.h"
#include "SimProcess.h"
#include "TestPrinters.h"
#include "Widgets.h"
#include "app/MainWindow.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "text/StringTable.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/ValuePadDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace pmx;
using test::child;

namespace {

test::PrivateSettingsScope g_scope;

constexpr int kInstrument = 7;
constexpr int kHangGuardMs = 60000;

// The instrument's default memory: item i holds 100 * i - 1.
qint16 simDefault(int i) {
    return qint16(100 * i - 1);
}

// One running program: the instrument, the settings pointing COM1 at its pty, and the
// main window with a real SerialComm, conditions applied.
struct Rig : test::ScriptedPrompts {
    QTemporaryDir home;
    test::SimProcess sim;
    std::unique_ptr<MainWindow> w;
    SerialComm* serial = nullptr; // the window's

    Rig(const test::ProtocolCase& p, const QStringList& simArgs) {
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        if (!sim.start(
                QStringList{"--protocol", p.name, "--instrument", QString::number(kInstrument)} +
                simArgs)) {
            ADD_FAILURE() << sim.errorText().toStdString();
            return;
        }
        Conditions c{.protocol = ProtocolNumber(p.no), .instrument = kInstrument};
        QSettingsStore store;
        cond::writeStored(store, cond::toTexts(c));
        cond::writeBlockSetting(store, {false, 125}); // whatever an earlier test turned on
        store.setValue(PortMap::kSection, QStringLiteral("COM1"), sim.devicePath());
        auto comm = std::make_unique<SerialComm>();
        serial = comm.get();
        w = std::make_unique<MainWindow>(std::move(comm), prompts());
        w->startCommunication();
        // The first tick applies the conditions and opens the pty.
        static_cast<void>(
            QTest::qWaitFor([this] { return w->pendingTask() != kTaskApply; }, kHangGuardMs));
    }
    ~Rig() {
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        if (w)
            w->hide();
    }
    bool ready() const {
        return w && w->pendingTask() == kTaskIdle &&
               child<QPushButton>(w.get(), "Command_Move_0")->isEnabled();
    }
    // Runs the task to its end (hang guard only).
    bool waitIdle() {
        return QTest::qWaitFor(
            [this] { return w->pendingTask() == kTaskIdle && !w->transferRunning(); },
            kHangGuardMs);
    }
    bool run(Task task) {
        w->postTask(task);
        return waitIdle();
    }
    void select(int i) {
        edit([i](ItemTable& t) { t.selections[i] = Selection::Selected; });
        w->selectionDialog()->setBox(i, Selection::Selected);
    }
    // Changes the window's items as a test needs them.
    void edit(const std::function<void(ItemTable&)>& change) {
        ItemTable t = w->items();
        change(t);
        w->setItems(t);
    }
    QString portLine() const { return child<QLabel>(w.get(), "Label_port")->text(); }
    QString modelLabel() const { return child<QLabel>(w.get(), "Label_Modelname")->text(); }
    QPushButton* stopButton() const { return child<QPushButton>(w.get(), "Command_Stop"); }
    QString summary() const { return child<QLabel>(w.get(), "Label_summary")->text(); }
    // Item i's value cell is marked as failed in the last transfer.
    bool marked(int i) {
        cell(i);
        return child<QLineEdit>(w.get(), "Data0", i % kRowsPerPage)->property("failed").toBool();
    }
    // The items of the instrument's log lines of reads or writes ("R" / "W"), in order.
    QStringList loggedItems(const QString& kind) const {
        QStringList items;
        const QRegularExpression re(QStringLiteral("^\\S+ %1 ([0-9A-F]{4})").arg(kind));
        for (const QString& line : sim.logLines())
            if (const auto m = re.match(line); m.hasMatch())
                items << m.captured(1);
        return items;
    }
    // Item i's value cell: the tab of its page is chosen and the idle tick draws it.
    QString cell(int i) {
        child<QTabBar>(w.get(), "TabStrip1")->setCurrentIndex(i / kRowsPerPage);
        w->onDispatcherTick();
        return child<QLineEdit>(w.get(), "Data0", i % kRowsPerPage)->text();
    }
};

class TransferE2e : public ::testing::TestWithParam<test::ProtocolCase> {
  protected:
    bool korvan() const { return GetParam().no == kProtocolKorvan; }
    QString refused() const {
        return strings::text(korvan() ? TextId::NegativeAcknowledgement : TextId::CommErrorOrNak);
    }
};

} // namespace

TEST_P(TransferE2e, WriteOfAllItemsInOrderThenReadBackWithTheButtons) {
    Rig rig(GetParam(), {});
    ASSERT_TRUE(rig.ready()) << rig.portLine().toStdString();
    MainWindow& w = *rig.w;
    for (int i = 0; i < kItemCount; ++i)
        rig.select(i);
    rig.edit([](ItemTable& t) {
        for (int i = 0; i < kItemCount; ++i)
            t.values[i] = qint16(i % 2 ? -(i * 211) : i * 257); // both signs
        // Bytes a cooked terminal would eat or change on the wire: XON, XOFF, CR, LF.
        t.values[1] = 0x1113;
        t.values[2] = 0x0D0A;
    });
    const auto written = w.items().values;

    child<QPushButton>(&w, "Command_Move_1")->click(); // "write all", answered Yes
    ASSERT_EQ(rig.asked.value(0), strings::text(TextId::ConfirmWrite));
    ASSERT_TRUE(rig.waitIdle());

    QStringList expectedOrder = {"0044", "0023", "0024", "0049", "004A"};
    for (int i = 1; i < kItemCount; ++i) // 0000 is never written
        if (!expectedOrder.contains(itemAddressText(i)))
            expectedOrder << itemAddressText(i);
    EXPECT_EQ(rig.loggedItems("W"), expectedOrder);
    // A Modbus write's answer is its request byte for byte: on a line that has not shown
    // yet whether it echoes, the first write's copy is checked by one read of its item.
    const QStringList probe = korvan() ? QStringList() : QStringList{"0044"};
    EXPECT_EQ(rig.loggedItems("R"), probe);

    // Read back what the instrument now holds.
    rig.edit([](ItemTable& t) { t.values.fill(0); });
    child<QPushButton>(&w, "Command_Move_0")->click(); // "read all", answered Yes
    ASSERT_EQ(rig.asked.value(1), strings::text(TextId::ConfirmRead));
    ASSERT_TRUE(rig.waitIdle());
    EXPECT_EQ(rig.loggedItems("R").size(), kItemCount + probe.size());
    EXPECT_EQ(w.items().values[0], simDefault(0));
    for (int i = 1; i < kItemCount; ++i)
        EXPECT_EQ(w.items().values[i], written[i]) << i;
    EXPECT_EQ(rig.cell(0x44), QString::number(written[0x44])) << "the page shows what was read";
}

// A refused item keeps its value and fails alone, in a read and in a write; the monitor,
// opened afterwards from the Setting menu, shows those exchanges with the item's name and
// the value in the pages' DEC/HEX form.
TEST_P(TransferE2e, RefusedItemKeepsItsValueTheRestIsDoneAndTheMonitorShowsIt) {
    Rig rig(GetParam(), {"--fault", "0005=nak"});
    ASSERT_TRUE(rig.ready()) << rig.portLine().toStdString();
    MainWindow& w = *rig.w;
    for (int i : {4, 5, 6})
        rig.select(i);
    rig.edit([](ItemTable& t) {
        t.names[4] = QStringLiteral("Alarm 1");
        t.values[5] = 1234;
    });
    ASSERT_TRUE(rig.run(kTaskReadAll));

    EXPECT_EQ(rig.loggedItems("R"), (QStringList{"0004", "0005", "0006"}));
    EXPECT_EQ(w.items().values[4], simDefault(4));
    EXPECT_EQ(w.items().values[5], 1234);
    EXPECT_EQ(w.items().values[6], simDefault(6));
    EXPECT_EQ(rig.modelLabel(), refused());
    EXPECT_TRUE(w.failureOnShow());

    // The same refusal on a write of all items: the others are still written.
    ASSERT_TRUE(rig.run(kTaskWriteAll));
    EXPECT_EQ(rig.loggedItems("W"), (QStringList{"0004", "0005", "0006"}));
    EXPECT_EQ(rig.modelLabel(), refused());
    EXPECT_TRUE(rig.summary().startsWith("Write: 2 of 3 items good; 1 failed: 0005h"));
    EXPECT_TRUE(rig.marked(5));
    EXPECT_FALSE(rig.marked(4));

    child<QAction>(&w, "menu_set_monitor")->trigger();
    MonitorWindow* monitor = w.monitorWindow();
    ASSERT_TRUE(monitor && monitor->isVisible());
    ASSERT_EQ(monitor->shownRows(), 6) << "what happened before it was opened";
    const auto cell = [&](int row, int column) {
        return monitor->model()->index(row, column).data().toString();
    };
    EXPECT_EQ(cell(0, ExchangeTableModel::Meaning), "read 0004h Alarm 1");
    EXPECT_EQ(cell(3, ExchangeTableModel::Meaning), "write 0004h Alarm 1 = 399");
    EXPECT_EQ(cell(3, ExchangeTableModel::Outcome), "good");
    EXPECT_TRUE(cell(4, ExchangeTableModel::Outcome).startsWith(korvan() ? "NAK " : "exception "));
    child<QRadioButton>(&w, "Option1_1")->setChecked(true);
    EXPECT_EQ(cell(3, ExchangeTableModel::Meaning), "write 0004h Alarm 1 = 18Fh");

    // The next transfer starts afresh: marks and summary are its own; its rows come as the
    // exchanges happen.
    rig.edit([](ItemTable& t) { t.selections[5] = Selection::Cleared; });
    ASSERT_TRUE(rig.run(kTaskReadAll));
    EXPECT_EQ(rig.summary(), "Read: 2 of 2 items good");
    EXPECT_FALSE(rig.marked(5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return monitor->shownRows() == 8; }, kHangGuardMs));
}

// Stop ends a transfer after the exchange under way; nothing after it is sent, and the
// summary and the table say what was done.
TEST_P(TransferE2e, StopEndsTheReadAfterTheCurrentExchange) {
    Rig rig(GetParam(), {});
    ASSERT_TRUE(rig.ready()) << rig.portLine().toStdString();
    MainWindow& w = *rig.w;
    for (int i : {1, 2, 3, 0x44})
        rig.select(i);
    rig.edit([](ItemTable& t) { t.values.fill(77); });
    EXPECT_FALSE(rig.stopButton()->isVisible());
    // Pressed while the exchange of the first item goes on (its end is the last moment
    // that counts); seen before the next one.
    struct PressStop : ExchangeObserver {
        QPushButton* button = nullptr;
        std::optional<bool> wasVisible; // set at the press
        void exchanged(const ExchangeRecord&) override {
            if (wasVisible)
                return;
            wasVisible = button->isVisible();
            button->click();
        }
    } press;
    press.button = rig.stopButton();
    rig.serial->addExchangeObserver(&press);
    ASSERT_TRUE(rig.run(kTaskReadAll));
    rig.serial->removeExchangeObserver(&press);
    EXPECT_EQ(press.wasVisible, true) << "Stop is there during a transfer";
    EXPECT_EQ(rig.loggedItems("R"), QStringList{"0001"});
    EXPECT_EQ(w.items().values[1], simDefault(1));
    EXPECT_EQ(w.items().values[2], 77);
    EXPECT_EQ(rig.summary(), "Read: 1 of 4 items good; 3 not read: 0002h, 0003h, 0044h; stopped");
    EXPECT_FALSE(rig.stopButton()->isVisible());
    EXPECT_FALSE(child<QProgressBar>(&w, "ProgressBar1")->isVisible());
}

// Block reads turned on in the settings give the window the values and the failure the
// per-item read gives, from an instrument that takes blocks and from one with an undefined
// register (0041) inside a refused span; under KORVAN they are not used.
TEST_P(TransferE2e, BlockReadsFillTheTableAsTheItemByItemRead) {
    for (const QStringList& simArgs :
         {QStringList{}, QStringList{"--refuse-span", "0040", "--fault", "0041=nak:02"}}) {
        SCOPED_TRACE(simArgs.join(' ').toStdString());
        Rig rig(GetParam(), simArgs);
        ASSERT_TRUE(rig.ready()) << rig.portLine().toStdString();
        MainWindow& w = *rig.w;
        for (int i = 0; i < kItemCount; ++i)
            if (i != 3 && i != 90)
                rig.select(i);
        const auto readAll = [&] {
            rig.edit([](ItemTable& t) { t.values.fill(-5); });
            EXPECT_TRUE(rig.run(kTaskReadAll));
            return std::pair(w.items().values, rig.modelLabel());
        };
        const auto single = readAll();
        const qsizetype singleRequests = rig.sim.logLines().size();

        QSettingsStore store;
        cond::writeBlockSetting(store, {true, 125});
        ASSERT_TRUE(rig.run(kTaskApply));
        EXPECT_EQ(child<QLabel>(&w, "Label_commdat_block")->text(),
                  korvan() ? strings::text(TextId::BlockReadsUnused)
                           : strings::text(TextId::BlockReadsOn).arg(125));
        const auto block = readAll();
        EXPECT_EQ(block, single);
        EXPECT_EQ(block.first[0x44], simDefault(0x44));
        const qsizetype blockRequests = rig.sim.logLines().size() - singleRequests;
        // A refused span costs about two requests per halving, not one per item.
        EXPECT_TRUE(korvan() ? blockRequests == singleRequests : blockRequests < 32)
            << blockRequests << " requests against " << singleRequests;
    }
}

TEST_P(TransferE2e, ValueDialogWritesOnlyWithCheckWrite) {
    Rig rig(GetParam(), {});
    ASSERT_TRUE(rig.ready()) << rig.portLine().toStdString();
    MainWindow& w = *rig.w;
    rig.select(2);
    const auto enter = [&](const char* keys) {
        w.editValue(2);
        ASSERT_TRUE(w.valueDialog());
        auto* field = w.valueDialog()->findChild<QLineEdit*>(QStringLiteral("Disp_setdata"));
        ASSERT_TRUE(field);
        QTest::keyClicks(field, keys);
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_TRUE(rig.waitIdle());
    };
    enter("42");
    EXPECT_EQ(w.items().values[2], 42);
    EXPECT_TRUE(rig.loggedItems("W").isEmpty()); // Check_write not ticked

    child<QCheckBox>(&w, "Check_write")->setChecked(true);
    enter("321-");
    EXPECT_EQ(w.items().values[2], -321);
    EXPECT_EQ(rig.loggedItems("W"), QStringList{"0002"});
    EXPECT_EQ(rig.sim.logLines().filter(" W 0002 FEBF -> ").size(), 1) << "the value as sent";
}

TEST_P(TransferE2e, CloseAnsweredYesDuringReadStopsAndSaves) {
    // A slow instrument: the close is asked while the read is under way, however late the
    // timer fires on a busy machine.
    Rig rig(GetParam(), {"--delay-all", "200"});
    ASSERT_TRUE(rig.ready()) << rig.portLine().toStdString();
    MainWindow& w = *rig.w;
    for (int i = 0; i < kItemCount; ++i)
        rig.select(i);
    rig.edit([](ItemTable& t) { t.values.fill(77); });
    const QString stateFile = rig.home.path() + QStringLiteral("/PMX31570A.ini");
    ASSERT_FALSE(QFile::exists(stateFile));

    w.postTask(kTaskReadAll);
    qsizetype readBeforeClose = -1;
    QTimer::singleShot(50, &w, [&] {
        readBeforeClose = rig.loggedItems("R").size();
        w.close();
    });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !w.isVisible() && !w.transferRunning(); }, kHangGuardMs));

    EXPECT_EQ(rig.asked.value(0), strings::text(TextId::ConfirmClose));
    EXPECT_TRUE(QFile::exists(stateFile));
    const QStringList reads = rig.loggedItems("R");
    ASSERT_LE(reads.size(), readBeforeClose + 1); // at most the item whose answer was awaited
    for (int i = int(reads.size()); i < kItemCount; ++i)
        EXPECT_EQ(w.items().values[i], 77) << i;
    // Nothing more can go out afterwards: the port is closed and no task would open it.
    EXPECT_FALSE(rig.serial->isOpen());
    EXPECT_TRUE(w.pendingTask() == kTaskStopped || w.pendingTask() == kTaskIdle) << w.pendingTask();
}

INSTANTIATE_TEST_SUITE_P(, TransferE2e, test::allProtocols(), ::testing::PrintToStringParamName());
