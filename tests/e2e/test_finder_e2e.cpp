// Finding instruments set to unusual line settings, with the real serial object against
// the virtual instrument on a pty: the window and the command line; and a typed device
// path in the condition dialog, stored and used.
#include "ScriptedPrompts.h"
#include "SimProcess.h"
#include "TestPrinters.h"
#include "Widgets.h"
#include "app/MainWindow.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "model/TableFile.h"
#include "ui/ConditionsDialog.h"
#include "ui/FinderDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <gtest/gtest.h>

using namespace pmx;
using test::child;

namespace {

test::PrivateSettingsScope g_scope;

struct CliRun {
    int code = -1;
    QString out, err;
};

CliRun cli(const QTemporaryDir& dir, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
    env.insert("PMX31570A_HOME", dir.path() + "/home");
    env.insert("LANG", "C.UTF-8");
    env.remove("LC_ALL");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PMX_BIN_DIR "/pmx31570a-cli"), args);
    EXPECT_TRUE(p.waitForFinished(120000)) << "hang guard";
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Words of a line as a shell splits them (double and single quotes).
QStringList shellWords(const QString& line) {
    QStringList words;
    static const QRegularExpression word(QStringLiteral(R"re("([^"]*)"|'([^']*)'|(\S+))re"));
    for (auto it = word.globalMatch(line); it.hasNext();) {
        const auto m = it.next();
        words << m.captured(1) + m.captured(2) + m.captured(3);
    }
    return words;
}

// The main window with the real serial object, COM1 pointed at the instrument.
struct Window : test::ScriptedPrompts {
    QTemporaryDir home;
    std::unique_ptr<MainWindow> w;

    explicit Window(const QString& device) {
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        QSettingsStore store;
        cond::writeStored(store, {"KORVAN", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"});
        store.setValue(PortMap::kSection, "COM1", device);
        w = std::make_unique<MainWindow>(std::make_unique<SerialComm>(), prompts());
        w->startCommunication();
        QCoreApplication::processEvents();
        w->onDispatcherTick();
    }
    ~Window() { w->hide(); }
    QString status() const {
        QStringList shown;
        for (int k = 0; k < 8; ++k)
            shown << child<QLabel>(w.get(), "Label_commdat", k)->text();
        return shown.join('|');
    }
    // One read of item 0044h, as Read does it.
    std::optional<qint16> readItem68() {
        ItemTable t = w->items();
        t.selections.fill(Selection::Cleared);
        t.selections[68] = Selection::Selected;
        t.values[68] = 0;
        w->setItems(t);
        w->postTask(kTaskReadAll);
        w->onDispatcherTick();
        if (!w->transferSummaryText().contains("1 of 1"))
            return std::nullopt;
        return w->items().values[68];
    }
};

} // namespace

TEST(FinderE2E, CommandLineFindsAnAsciiInstrumentAt4800With2StopBitsAndTheLineReadsIt) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.start({"--protocol", "ascii", "--instrument", "17", "--line", "4800-7E2"}))
        << qPrintable(sim.errorText());
    QTemporaryDir dir;
    const CliRun r = cli(dir, {"find", "--port", sim.devicePath(), "--instruments", "17"});
    ASSERT_EQ(r.code, 0) << qPrintable(r.err);
    // A pty carries no parity or data bits: those are whatever was tried first.
    const QRegularExpression line(
        "^--port " + QRegularExpression::escape(sim.devicePath()) +
        R"( --protocol "Modbus ASCII" --instrument 17 --rate 4800 --data-bits [78] --parity \w+ --stop-bits 2\n$)");
    EXPECT_TRUE(line.match(r.out).hasMatch()) << qPrintable(r.out);
    EXPECT_TRUE(r.err.startsWith("find: 120 tries. If nothing answers, the search takes about "))
        << qPrintable(r.err);

    // Pasted as it is, the line reaches the instrument.
    ItemTable table;
    table.selections[68] = Selection::Selected;
    const QString in = dir.filePath("in.dat");
    ASSERT_TRUE(saveTableFile(in, table));
    const CliRun read = cli(dir, shellWords(r.out) + QStringList{"read", "--table", in});
    EXPECT_EQ(read.code, 0) << qPrintable(read.err);
    EXPECT_EQ(read.out, "0044\t\t6799\n");
}

TEST(FinderE2E, CommandLineSaysWhenNothingAnswersOrNothingOpens) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.start({"--silent"})) << qPrintable(sim.errorText());
    QTemporaryDir dir;
    const struct {
        QStringList args;
        int code;
    } cases[] = {
        {{"--port", sim.devicePath(), "--protocol", "korvan", "--answer-wait", "20"}, 4},
        {{"--port", dir.path() + "/ttyNone", "--port", dir.path() + "/ttyGone"}, 3},
        {{"--port", "ttyUSB0"}, 2},
        {{"--instruments", "96"}, 2},
        {{"--protocol", "x"}, 2},
        {{"--answer-wait", "5"}, 2},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(dir, QStringList{"find"} + c.args);
        EXPECT_EQ(r.code, c.code) << qPrintable(c.args.join(' ') + "\n" + r.err);
        EXPECT_TRUE(r.out.isEmpty()) << qPrintable(r.out);
    }
}

TEST(FinderE2E, WindowFindsAnRtuInstrumentAt2400AndUsesIt) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.start({"--protocol", "rtu", "--line", "2400-8N1"}))
        << qPrintable(sim.errorText());
    Window win(sim.devicePath());
    ASSERT_EQ(win.status(), "KORVAN|0|9600|7 bit|1 bit|EVEN|COM1|300");
    win.w->openFinder();
    FinderDialog* d = win.w->finderDialog();
    EXPECT_TRUE(child<QLabel>(d, "Label_estimate")->text().startsWith("120 tries."));
    child<QPushButton>(d, "Command_start")->click();
    win.w->onDispatcherTick(); // the whole search, events running between the tries
    auto* grid = child<QTableWidget>(d, "Grid_found");
    ASSERT_EQ(grid->rowCount(), 1) << qPrintable(child<QLabel>(d, "Label_trying")->text());
    const auto cell = [&](int k) { return grid->item(0, k)->text(); };
    EXPECT_EQ(cell(1) + '|' + cell(2) + '|' + cell(5) + '|' + cell(6), "Modbus RTU|2400|1 bit|1");
    EXPECT_EQ(win.status(), "KORVAN|0|9600|7 bit|1 bit|EVEN|COM1|300") << "nothing chosen yet";

    child<QPushButton>(d, "Command_use")->click();
    win.w->onDispatcherTick();
    EXPECT_TRUE(win.status().startsWith("Modbus RTU|1|2400|8 bit|1 bit|"))
        << qPrintable(win.status());
    EXPECT_EQ(win.readItem68(), std::optional<qint16>(6799));
}

TEST(FinderE2E, TypedDevicePathIsStoredThroughThePortMapAndOpened) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.start({"--protocol", "korvan"})) << qPrintable(sim.errorText());
    QTemporaryDir elsewhere;
    Window win(elsewhere.filePath("ttyNothing")); // COM1 opens nothing to begin with
    ConditionsDialog* dlg = win.w->conditionsDialog();
    auto* device = child<QComboBox>(dlg, "Combo_Device");
    device->setEditText(sim.devicePath());
    dlg->storeConditions();
    win.w->onDispatcherTick();
    EXPECT_EQ(QSettingsStore().value(cond::kSection, cond::kPort, {}), "COM1");
    EXPECT_EQ(QSettingsStore().value(PortMap::kSection, "COM1", {}), sim.devicePath());
    EXPECT_EQ(child<QLabel>(win.w.get(), "Label_port")->toolTip(),
              "COM1 \u2192 " + sim.devicePath());
    EXPECT_EQ(win.readItem68(), std::optional<qint16>(6799));
}
