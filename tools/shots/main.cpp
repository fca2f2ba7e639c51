// pmx31570a-shots: takes the screenshots of the user guide from the real windows.
//
// It runs the program's own main window and dialogs against the virtual instrument in a
// private scope (temporary settings and application directory), reads the instrument
// once and saves one PNG per window into the output directory. Run it under a real X
// display (Xvfb will do) so fonts and styles are those an operator sees; the language
// comes from LANG as in the program.
#include "FinderShots.h"
#include "HelpShots.h"
#include "ProfileShots.h"
#include "ShotSupport.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "comm/SettingsStore.h"
#include "model/AppPaths.h"
#include "text/StringTable.h"
#include "transfer/Dispatcher.h"
#include "ui/AboutDialog.h"
#include "ui/CompareDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/FittingScrollArea.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/ReportWindow.h"
#include "ui/ValuePadDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>

#include <functional>
#include <memory>

#ifndef PMX_SOURCE_DIR
#define PMX_SOURCE_DIR "."
#endif

using namespace pmx;
using namespace shots;

// What the line shows of itself: a Modbus RTU instrument behind an adapter that sends every
// request back, answering 0005h later than the time-out. The summary line says how late
// and which time-out would do, the status frame names the echoing line, and the monitor
// says both under its counters.
static bool shootLineNotes(MainWindow& window, Shooter& shots, const QString& simPath,
                           const QString& model) {
    Instrument echoing;
    if (!echoing.start(simPath, {QStringLiteral("--protocol"), QStringLiteral("rtu"),
                                 QStringLiteral("--instrument"), QStringLiteral("1"),
                                 QStringLiteral("--model"), model, QStringLiteral("--echo"),
                                 QStringLiteral("--fault"), QStringLiteral("0005=late:420"),
                                 QStringLiteral("--delay-all"), QStringLiteral("5")})) {
        say(echoing.error());
        return false;
    }
    {
        QSettingsStore store;
        store.setValue(PortMap::kSection, QStringLiteral("COM1"), echoing.device());
        store.setValue(cond::kSection, cond::kProtocol, QStringLiteral("Modbus RTU"));
        store.setValue(cond::kSection, cond::kDatabit, QStringLiteral("8 bit"));
        store.setValue(cond::kSection, cond::kTimeoutKey, QStringLiteral("300"));
    }
    auto* readButton = window.findChild<QPushButton*>(QStringLiteral("Command_Move_0"));
    window.postTask(kTaskApply);
    if (!readButton ||
        !waitFor([&] { return readButton->isEnabled() && window.pendingTask() == kTaskIdle; },
                 15000)) {
        say(QStringLiteral("the window did not connect to %1").arg(echoing.device()));
        return false;
    }
    window.postTask(kTaskReadAll);
    if (!waitFor([&] { return window.pendingTask() == kTaskIdle && !window.transferRunning(); },
                 120000)) {
        say(QStringLiteral("the read did not end"));
        return false;
    }
    window.endFailureDisplay();
    // Tall enough for the status frame at the foot of the side, where it names the
    // echoing line.
    const QSize size = window.size();
    window.resize(size.width(), std::max(size.height(), 820));
    settle(300);
    bool ok = shots.shoot(&window, QStringLiteral("line-notes"));
    window.resize(size);
    window.openMonitor();
    if (MonitorWindow* monitor = window.monitorWindow()) {
        monitor->move(30, 60);
        monitor->resize(1340, 440);
        waitExposed(monitor);
        monitor->refresh();
        settle(200);
        ok = shots.shoot(monitor, QStringLiteral("monitor-line-notes")) && ok;
        monitor->close();
    }
    echoing.stop();
    // The finder's pictures use the conditions of the start.
    QSettingsStore store;
    store.setValue(cond::kSection, cond::kProtocol, cond::kDefaultProtocol);
    store.setValue(cond::kSection, cond::kDatabit, cond::kDefaultDatabit);
    return ok;
}

int main(int argc, char** argv) {
    // The private scope comes first: settings paths are fixed at their first use.
    QTemporaryDir config;
    QTemporaryDir home;
    if (!config.isValid() || !home.isValid()) {
        say(QStringLiteral("cannot create temporary directories"));
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("PMX31570A_HOME", QFile::encodeName(home.path()));

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PMX31570A"));
    QApplication::setOrganizationName(QStringLiteral("KORVAN DELTRIS"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Saves screenshots of the main window and dialogs, connected to the virtual "
        "instrument, as NAME-LANG.png in OUTDIR. Language from LANG, as the program."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("OUTDIR"), QStringLiteral("where the PNGs go"));
    QCommandLineOption simOpt(
        QStringLiteral("sim"), QStringLiteral("the virtual instrument executable"),
        QStringLiteral("PATH"),
        QCoreApplication::applicationDirPath() + QStringLiteral("/pmx31570a-sim"));
    QCommandLineOption srcOpt(
        QStringLiteral("source"),
        QStringLiteral("source tree with resources/demo and resources/models"),
        QStringLiteral("DIR"), QStringLiteral(PMX_SOURCE_DIR));
    parser.addOption(simOpt);
    parser.addOption(srcOpt);
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        parser.showHelp(2);
    }
    const QString outDir = parser.positionalArguments().constFirst();
    if (!QDir().mkpath(outDir)) {
        say(QStringLiteral("cannot create %1").arg(outDir));
        return 2;
    }
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        say(QStringLiteral("note: platform %1, not xcb; the pictures may differ from a desktop")
                .arg(QGuiApplication::platformName()));

    QTranslator qtTranslator;
    const bool japanese = setUpLanguage(qtTranslator) == strings::Lang::Japanese;
    const QString suffix = japanese ? QStringLiteral("-ja") : QStringLiteral("-en");

    const QString src = parser.value(srcOpt);
    const QString model = src + QStringLiteral("/resources/models/model-pmx31570a.txt");
    const QString demoState = src + (japanese ? QStringLiteral("/resources/demo/PMX31570A_ja.ini")
                                              : QStringLiteral("/resources/demo/PMX31570A_en.ini"));
    if (!copyFile(demoState, home.filePath(QStringLiteral("PMX31570A.ini"))) ||
        !copyFile(model, home.filePath(QStringLiteral("model-pmx31570a.txt"))))
        return 2;

    Instrument sim;
    if (!sim.start(parser.value(simOpt), {QStringLiteral("--protocol"), QStringLiteral("korvan"),
                                          QStringLiteral("--instrument"), QStringLiteral("1"),
                                          QStringLiteral("--model"), model})) {
        say(sim.error());
        return 3;
    }
    if (!writeConditions(config.path(), sim.device())) {
        say(QStringLiteral("cannot write the settings file"));
        return 2;
    }
    pmx::ensureCsvFolder();

    Shooter shots(outDir, suffix);
    int status = 0;
    {
        MainWindow window(std::make_unique<SerialComm>(), UserPrompts::interactive());
        window.move(20, 20);
        window.startCommunication();
        auto* readButton = window.findChild<QPushButton*>(QStringLiteral("Command_Move_0"));
        auto* hexButton = window.findChild<QRadioButton*>(QStringLiteral("Option1_1"));
        auto* decButton = window.findChild<QRadioButton*>(QStringLiteral("Option1_0"));
        auto* tabs = window.findChild<QTabBar*>(QStringLiteral("TabStrip1"));
        auto* settingMenu = window.findChild<QMenu*>(QStringLiteral("menu_set"));
        if (!readButton || !hexButton || !decButton || !tabs || !settingMenu) {
            say(QStringLiteral("the main window lacks a widget the pictures need"));
            return 4;
        }
        if (!waitFor([&] { return readButton->isEnabled() && window.pendingTask() == kTaskIdle; },
                     15000)) {
            say(QStringLiteral("the window did not connect to %1").arg(sim.device()));
            return 4;
        }

        // One read of everything, as Read does after its question.
        window.postTask(kTaskReadAll);
        if (!waitFor([&] { return window.pendingTask() == kTaskIdle && !window.transferRunning(); },
                     120000)) {
            say(QStringLiteral("the read did not end"));
            return 4;
        }
        settle(300);

        // PMX_SHOTS_ONLY=profile: only the instrument profile's pictures.
        const QString profile = src + QStringLiteral("/resources/models/model-pmx31570a.profile");
        if (qgetenv("PMX_SHOTS_ONLY") == "profile")
            return shootProfile(window, shots, parser.value(simOpt), model, profile) ? 0 : 4;

        // Main window: DEC and HEX on the first page, then the third page.
        shots.shoot(&window, QStringLiteral("main-window"));
        hexButton->setChecked(true);
        settle(200);
        shots.shoot(&window, QStringLiteral("main-window-hex"));
        decButton->setChecked(true);
        tabs->setCurrentIndex(2);
        settle(200);
        shots.shoot(&window, QStringLiteral("main-window-tab3"));
        tabs->setCurrentIndex(0);
        settle(200);

        // The Setting menu open over the window.
        window.activateWindow();
        settle(100);
        const QPoint menuAt = window.mapToGlobal(
            window.menuWidget() ? window.menuWidget()->geometry().bottomLeft() : QPoint());
        settingMenu->popup(menuAt + QPoint(40, 0));
        waitExposed(settingMenu);
        const QRect menuShot =
            window.frameGeometry()
                .united(settingMenu->geometry())
                .intersected(QRect(window.frameGeometry().topLeft(), QSize(520, 260)));
        shots.shootScreen(menuShot, QStringLiteral("menu-setting"));
        settingMenu->hide();
        settle(100);

        // The question before Read, answered No.
        QTimer::singleShot(600, &window, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shots.shoot(box, QStringLiteral("confirm-read"));
                box->button(QMessageBox::No)->click();
            } else {
                say(QStringLiteral("no question box"));
            }
        });
        window.requestRead();
        settle(200);

        // Communication item selection.
        window.openItemSelection();
        ItemSelectionDialog* selection = window.selectionDialog();
        shots.shoot(selection, QStringLiteral("selection"));
        selection->reject();
        settle(100);

        // Setting value change: "Alarm 1 set value" with a new value typed.
        window.editValue(16);
        ValuePadDialog* value = window.valueDialog();
        if (value) {
            waitExposed(value);
            for (int digit : {1, 2, 5, 0})
                value->pressDigit(digit);
        }
        shots.shoot(value, QStringLiteral("value"));
        if (value)
            value->reject();
        settle(100);

        // Communication conditions.
        window.openConditions();
        ConditionsDialog* conditions = window.conditionsDialog();
        shots.shoot(conditions, QStringLiteral("conditions"));
        if (conditions)
            conditions->reject();
        settle(100);

        // Version information.
        window.showAbout();
        AboutDialog* about = window.aboutDialog();
        shots.shoot(about, QStringLiteral("version"));
        if (about)
            about->accept();
        settle(100);

        shootHelp(window, shots);

        // The all-data report preview.
        window.showAllData();
        ReportWindow* report = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* r = qobject_cast<ReportWindow*>(w); r && r->isVisible())
                report = r;
        if (report) {
            report->move(40, 10);
            fitWindowToScreen(report, nullptr, QSize(1000, 860));
            waitExposed(report);
            settle(500);
        }
        shots.shoot(report, QStringLiteral("report"));
        if (report)
            report->close();
        settle(100);

        // The comparison with the instrument after three values of the table changed; the
        // table is put back afterwards.
        const ItemTable beforeCompare = window.items();
        {
            ItemTable t = window.items();
            int changed = 0;
            for (int i = 0x10; i < kItemCount && changed < 3; i += 5) {
                if (t.isSelected(i) && !t.isUndefined(i)) {
                    t.values[i] = qint16(t.values[i] + 10 * (changed + 1));
                    ++changed;
                }
            }
            window.setItems(t);
        }
        window.postTask(kTaskCompare);
        if (!waitFor(
                [&] {
                    return window.pendingTask() == kTaskIdle && !window.transferRunning() &&
                           window.compareDialog();
                },
                120000)) {
            say(QStringLiteral("the comparison did not end"));
            return 4;
        }
        CompareDialog* compare = window.compareDialog();
        compare->move(60, 40);
        fitWindowToScreen(compare, nullptr, QSize(640, 480));
        waitExposed(compare);
        settle(300);
        shots.shoot(compare, QStringLiteral("compare"));
        if (auto* only = compare->findChild<QCheckBox*>(QStringLiteral("Check_diffonly")))
            only->setChecked(true);
        settle(200);
        shots.shoot(compare, QStringLiteral("compare-differences"));
        compare->accept();
        window.setItems(beforeCompare);
        settle(100);
        if (!shootProfile(window, shots, parser.value(simOpt), model, profile))
            status = 4;
        // The monitor and the feedback of transfers, against an instrument that refuses
        // 0003h, garbles 0004h, keeps silent on 0010h, answers 0011h as if asked for 0012h
        // and keeps 0023h within 0..1000. COM1 is pointed at it and the conditions applied
        // again.
        sim.stop();
        Instrument faulty;
        if (!faulty.start(parser.value(simOpt),
                          {QStringLiteral("--protocol"), QStringLiteral("korvan"),
                           QStringLiteral("--instrument"), QStringLiteral("1"),
                           QStringLiteral("--model"), model, QStringLiteral("--fault"),
                           QStringLiteral("0003=nak"), QStringLiteral("--fault"),
                           QStringLiteral("0004=badsum"), QStringLiteral("--fault"),
                           QStringLiteral("0010=silent"), QStringLiteral("--fault"),
                           QStringLiteral("0011=echo:0012"), QStringLiteral("--fault"),
                           QStringLiteral("0023=clamp:0:1000"), QStringLiteral("--delay-all"),
                           QStringLiteral("15")})) {
            say(faulty.error());
            return 3;
        }
        {
            QSettingsStore store;
            store.setValue(PortMap::kSection, QStringLiteral("COM1"), faulty.device());
        }
        window.postTask(kTaskApply);
        if (!waitFor([&] { return readButton->isEnabled() && window.pendingTask() == kTaskIdle; },
                     15000)) {
            say(QStringLiteral("the window did not connect to %1").arg(faulty.device()));
            return 4;
        }
        // Halfway through the read: the item count, the address and Stop.
        bool shotInTransfer = false;
        QTimer progressShot;
        progressShot.setInterval(50);
        QObject::connect(&progressShot, &QTimer::timeout, &window, [&] {
            auto* bar = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
            if (shotInTransfer || !bar || !bar->isVisible() || bar->value() < 40)
                return;
            shotInTransfer = true;
            shots.shoot(&window, QStringLiteral("transfer-progress"));
        });
        progressShot.start();
        window.postTask(kTaskReadAll);
        if (!waitFor([&] { return window.pendingTask() == kTaskIdle && !window.transferRunning(); },
                     120000)) {
            say(QStringLiteral("the read did not end"));
            return 4;
        }
        progressShot.stop();
        window.endFailureDisplay();
        settle(300);
        shots.shoot(&window, QStringLiteral("transfer-summary"));

        window.openMonitor();
        MonitorWindow* monitor = window.monitorWindow();
        if (monitor) {
            monitor->move(30, 60);
            fitWindowToScreen(monitor, nullptr, QSize(1340, 440));
            waitExposed(monitor);
            // The second read's rows from 0002h on, where the faults begin.
            const int rows = monitor->model()->rowCount() - int(itemsToRead(window.items()).size());
            if (auto* table = monitor->findChild<QTableView*>(QStringLiteral("Table_exchanges")))
                table->scrollTo(table->model()->index(std::max(rows + 2, 0), 0),
                                QAbstractItemView::PositionAtTop);
            settle(200);
        }
        shots.shoot(monitor, QStringLiteral("monitor"));
        // A write with the monitor open, then its failures and those of the read.
        window.postTask(kTaskWriteAll);
        if (!waitFor([&] { return window.pendingTask() == kTaskIdle && !window.transferRunning(); },
                     120000)) {
            say(QStringLiteral("the write did not end"));
            return 4;
        }
        if (monitor) {
            // The write's first rows: 0044h and the other leading items, then 0001h on.
            monitor->refresh();
            // Every selected item but 0000h is written (the dialog's boxes follow the table).
            const ItemTable& items = window.items();
            const int rows = monitor->model()->rowCount() - int(itemsToRead(items).size()) +
                             (items.isSelected(0) ? 1 : 0);
            if (auto* table = monitor->findChild<QTableView*>(QStringLiteral("Table_exchanges")))
                table->scrollTo(table->model()->index(std::max(rows, 0), 0),
                                QAbstractItemView::PositionAtTop);
            settle(200);
        }
        shots.shoot(monitor, QStringLiteral("monitor-write"));
        // One value sent at once with Verify after writing, kept by the instrument only up
        // to 1000.
        for (const char* box : {"Check_write", "Check_verify"})
            if (auto* check = window.findChild<QCheckBox*>(QLatin1String(box)))
                check->setChecked(true);
        ItemTable clamped = window.items();
        clamped.selections[0x23] = Selection::Selected;
        clamped.currentItem = 0x23;
        clamped.values[0x23] = 1500;
        window.setItems(clamped);
        window.postTask(kTaskWriteChanged);
        waitFor([&] { return window.pendingTask() == kTaskIdle && !window.transferRunning(); },
                30000);
        if (monitor) {
            monitor->setFailuresOnly(true);
            settle(200);
        }
        shots.shoot(monitor, QStringLiteral("monitor-failures"));
        if (monitor)
            monitor->close();
        // The change log of those writes: refusals, silence and a value not kept.
        window.openHistory();
        if (auto* history = window.findChild<QDialog*>(QStringLiteral("SubDisp_history"))) {
            history->move(40, 40);
            fitWindowToScreen(history, nullptr, QSize(1100, 520));
            waitExposed(history);
            settle(300);
            shots.shoot(history, QStringLiteral("history"));
            history->close();
        }
        faulty.stop();
        if (!shootLineNotes(window, shots, parser.value(simOpt), model))
            status = 1;
        if (!shootFinder(window, shots, parser.value(simOpt), model))
            status = 1;

        // Leave without the closing question: the scope is thrown away.
        window.hide();
        if (shots.failed())
            status = 1;
    }
    sim.stop();
    return status;
}
