// The main window offscreen, with a fake communication object and scripted prompts:
// pages, tasks, failures, the line's state, closing, menus and file commands.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "app/MainDisp.h"
#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "ui/ReportWindow.h"
#include "ui/Setting_Disp.h"
#include "ui/SubDisp_About.h"
#include "ui/SubDisp_comm.h"
#include "ui/SubDisp_command.h"
#include "ui/strings/StringTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using namespace pmx;

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

test::PrivateSettingsScope g_scope;

struct Window : test::ScriptedPrompts {
    QTemporaryDir home;
    test::FakeComm* com = nullptr;
    std::unique_ptr<MainDisp> w;

    explicit Window(bool start = true, strings::Lang lang = strings::Lang::English,
                    std::function<void(const QString&)> beforeStart = {}) {
        strings::setLanguage(lang);
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        if (beforeStart)
            beforeStart(home.path());
        auto fake = std::make_unique<test::FakeComm>();
        com = fake.get();
        w = std::make_unique<MainDisp>(std::move(fake), prompts());
        if (start)
            this->start();
    }
    void start() {
        w->communicate();
        QCoreApplication::processEvents();
        w->dispatcher().tick(); // the first tick applies the conditions
    }
    ~Window() {
        if (w)
            w->hide();
        strings::setLanguage(strings::Lang::English);
    }
    QString path(const char* name) const { return home.path() + '/' + QLatin1String(name); }
    QString file(const char* name, const QByteArray& bytes) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return path(name);
    }
};

} // namespace

TEST(MainWindow, RowsMapToItemsOfTheSelectedTab) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ItemName[69] = QStringLiteral("Alarm 5");
    w.table.ItemSel[69] = 1;
    w.table.ItemData[69] = -1;
    w.TabStrip1->setCurrentIndex(2);
    EXPECT_EQ(w.Text1[5]->text(), QStringLiteral("Alarm 5"));
    EXPECT_TRUE(w.Check_Command[5]->isChecked());
    w.Option1[1]->setChecked(true); // decimal values are checked end to end
    w.dispatcher().tick();
    EXPECT_EQ(w.Data0[5]->text(), QStringLiteral("FFFFh"));
}

TEST(MainWindow, UndefinedItemCannotBeSelected) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ItemName[3] = QStringLiteral("Spare----");
    w.table.ItemName[4] = QStringLiteral("Gain");
    w.RefreshName();
    w.Check_Command[3]->click();
    w.Check_Command[4]->click();
    EXPECT_FALSE(w.Check_Command[3]->isChecked());
    EXPECT_EQ(w.table.ItemSel[3], 0);
    EXPECT_EQ(w.table.ItemSel[4], 1);

    // A page refresh that turns on the box of a selected undefined item clears it.
    w.table.ItemName[40] = QStringLiteral("Spare----");
    w.table.ItemSel[40] = 1;
    w.TabStrip1->setCurrentIndex(1);
    EXPECT_FALSE(w.Check_Command[8]->isChecked());
    EXPECT_EQ(w.table.ItemSel[40], 0);
}

TEST(MainWindow, ApplyEnablesTransferOrShowsTheCommunicationError) {
    Window good; // enabled transfer buttons are checked end to end
    EXPECT_EQ(good.w->Label_commdat[0]->text(), QStringLiteral("KORVAN"));

    Window bad(false);
    bad.com->openOk = false;
    bad.w->communicate();
    bad.w->dispatcher().tick();
    EXPECT_EQ(bad.w->Label_Modelname->text(), strings::text(50));
    EXPECT_FALSE(bad.w->Command_Move[1]->isEnabled());
    EXPECT_TRUE(bad.w->Label_commdat[0]->text().isEmpty());
    EXPECT_EQ(bad.w->dispatcher().CommTask, kTaskStopped);
}

TEST(MainWindow, WriteAnsweredNoOrConfirmedDuringAReadStartsNothing) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ItemSel[1] = 1;
    w.table.ItemSel[2] = 1;
    win.answer = false;
    w.Command_Move[1]->click();
    EXPECT_EQ(win.asked.last(), strings::text(53));
    EXPECT_EQ(w.dispatcher().CommTask, kTaskIdle);

    win.answer = true;
    bool clicked = false;
    win.com->onSend = [&] {
        if (!clicked) {
            clicked = true;
            w.Command_Move[1]->click(); // answered Yes while the read runs
        }
    };
    w.Command_Move[0]->click();
    w.dispatcher().tick();
    w.dispatcher().tick();
    EXPECT_EQ(win.com->log, (QStringList{"R 0001", "R 0002"}));
    EXPECT_EQ(w.dispatcher().CommTask, kTaskIdle);
}

TEST(MainWindow, FailureShownInRedUntilTimer2) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ModelName = QStringLiteral("PMX-31570A");
    w.table.ItemSel[5] = 1;
    win.com->faults[5] = "nak";
    w.postTask(kTaskReadAll);
    w.dispatcher().tick();
    EXPECT_EQ(w.Label_Modelname->text(), strings::text(100));
    EXPECT_TRUE(w.Timer2.isActive());
    w.Timer2_Timer();
    EXPECT_EQ(w.Label_Modelname->text(), QStringLiteral("PMX-31570A"));
    EXPECT_FALSE(w.Timer2.isActive());

    // A failed apply right after an item failure keeps its message: no restore follows.
    w.postTask(kTaskReadAll);
    w.dispatcher().tick();
    ASSERT_TRUE(w.Timer2.isActive());
    win.com->openOk = false;
    w.postTask(kTaskApply);
    w.dispatcher().tick();
    EXPECT_FALSE(w.Timer2.isActive());
    EXPECT_EQ(w.Label_Modelname->text(), strings::text(50));
}

TEST(MainWindow, CloseQuestionNoKeepsRunningYesSaves) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ModelName = QStringLiteral("PMX-31570A");
    w.table.ItemData[127] = -32768;
    win.answer = false;
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(win.asked.last(), strings::text(51));
    EXPECT_FALSE(QFile::exists(win.path("PMX31570A.ini")));

    // A directory in the way makes the save fail: close? Yes; close without saving? No.
    QDir home(win.home.path());
    ASSERT_TRUE(home.mkdir(QStringLiteral("PMX31570A.ini")));
    win.answers = {true, false};
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(win.asked.last().contains(QStringLiteral("PMX31570A.ini")));
    ASSERT_TRUE(home.rmdir(QStringLiteral("PMX31570A.ini")));

    win.answer = true;
    EXPECT_TRUE(w.close());
    // The next start loads it.
    Window again(false, strings::Lang::English, [&](const QString& home) {
        QFile::copy(win.path("PMX31570A.ini"), home + QStringLiteral("/PMX31570A.ini"));
    });
    EXPECT_EQ(again.w->table.ModelName, QStringLiteral("PMX-31570A"));
    EXPECT_EQ(again.w->table.ItemData[127], -32768);
    EXPECT_EQ(again.w->Label_Modelname->text(), QStringLiteral("PMX-31570A"));
}

TEST(MainMenus, HelpFileAndCaptionsFitInBothLanguages) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Window win(false, lang);
        MainDisp& w = *win.w;
        EXPECT_EQ(w.table.LangEng, lang == strings::Lang::English);
        EXPECT_TRUE(
            w.HelpPath.endsWith(w.table.LangEng ? "/PMX-31570A_E.chm" : "/PMX-31570A_J.chm"));
        w.show();
        w.table.ItemSel[0] = 1;
        w.Data0_Click(0);
        w.menu_ver->trigger();
        w.menu_set_com->trigger();
        w.menu_set_comdata->trigger();
        QCoreApplication::processEvents();
        // No caption of the window or its dialogs is cut off.
        for (QWidget* top : QList<QWidget*>{&w, w.valueDialog(), w.aboutDialog(),
                                            w.selectionDialog(), w.conditionDialog()}) {
            ASSERT_TRUE(top && top->isVisible());
            for (QWidget* c : top->findChildren<QWidget*>()) {
                if ((qobject_cast<QLabel*>(c) || qobject_cast<QAbstractButton*>(c)) &&
                    c->isVisible())
                    EXPECT_GE(c->width(), c->sizeHint().width()) << qPrintable(c->objectName());
            }
        }
        for (QWidget* d : QList<QWidget*>{w.valueDialog(), w.aboutDialog(), w.selectionDialog(),
                                          w.conditionDialog()})
            d->close();
    }
}

TEST(MainMenus, DataFilesRoundTripOrChangeNothing) {
    Window win(false);
    MainDisp& w = *win.w;
    w.table.ModelName = "PMX-31570A";
    w.table.ItemName[2] = "Gain, coarse";
    w.table.ItemSel[2] = 1;
    w.table.ItemData[2] = -1;
    win.nextFile = win.path("a.dat");
    w.Command_File[1]->click();
    EXPECT_EQ(win.lastFile.filter, "*.dat(data file)|*.dat");
    EXPECT_EQ(win.lastFile.suffix, "dat");
    EXPECT_EQ(QDir(win.lastFile.dir), QDir(win.home.path()));

    w.table.ItemName[2] = "changed";
    w.table.ItemSel[2] = 0;
    w.table.ItemData[2] = 5;
    w.Command_File[0]->click();
    EXPECT_EQ(w.table.ItemName[2], "Gain, coarse");
    EXPECT_EQ(w.table.ItemData[2], -1);
    EXPECT_EQ(w.Text1[2]->text(), "Gain, coarse"); // RefreshName ran
    EXPECT_TRUE(w.Check_Command[2]->isChecked());
    EXPECT_TRUE(w.selectionDialog()->boxTicked(2));
    EXPECT_TRUE(win.errors.isEmpty());

    // A broken file changes nothing and says where.
    win.nextFile = win.file("cut.dat", "\"new model\"\r\n\"a\"\r\n");
    w.Command_File[0]->click();
    EXPECT_EQ(w.table.ModelName, "PMX-31570A");
    EXPECT_EQ(w.table.ItemName[2], "Gain, coarse");
    ASSERT_EQ(win.errors.size(), 1);
    EXPECT_TRUE(win.errors[0].contains("cut.dat"));

    // A save that cannot be done is told, never silent.
    win.nextFile = win.path("no/such/dir/x.dat");
    w.Command_File[1]->click();
    EXPECT_EQ(win.errors.size(), 2);
    // Cancelled dialogs do nothing.
    win.nextFile.clear();
    w.Command_File[0]->click();
    w.Command_File[1]->click();
    EXPECT_EQ(win.errors.size(), 2);
}

TEST(MainMenus, ExportAppendsToTheChosenCsv) {
    Window win(false);
    MainDisp& w = *win.w;
    w.table.ItemName.fill("X----");
    w.table.ItemName[0] = "P0";
    w.table.ItemData[0] = -5;
    win.nextFile = win.path("list.csv");
    w.menu_export->trigger();
    EXPECT_TRUE(win.lastFile.proposed.startsWith("PMX-31570A"));
    EXPECT_TRUE(win.lastFile.proposed.endsWith(".csv"));
    EXPECT_TRUE(win.lastFile.dir.endsWith("/csvdata"));
    w.Option1[1]->setChecked(true);
    w.menu_export->trigger();
    QFile f(win.nextFile); // the bytes of a block are the CSV writer's tests' business
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.count("\"Data Item\""), 2);
    EXPECT_LT(bytes.indexOf("\"P0\",-5\r\n"), bytes.indexOf("\"P0\",\"FFFBh\"\r\n"));
    win.nextFile = win.path("missing/list.csv");
    w.menu_export->trigger();
    EXPECT_EQ(win.errors.size(), 1);
}

TEST(MainMenus, UnitSelectionLoadsNamesOrRefusesWholly) {
    Window win(false);
    MainDisp& w = *win.w;
    win.nextFile = QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a-sjis.txt");
    w.menu_set_model->trigger();
    EXPECT_EQ(win.lastFile.filter, "*.txt(text file)|*.txt");
    EXPECT_EQ(w.table.ModelName, "PMX-31570A");
    EXPECT_EQ(w.table.ItemName[0], "Instrument status");
    EXPECT_EQ(w.Text1[0]->text(), "Instrument status");
    EXPECT_EQ(w.Label_Modelname->text(), "PMX-31570A");

    win.nextFile = win.file("short.txt", "\"Other\"\r\n\"a\"\r\n");
    w.menu_set_model->trigger();
    EXPECT_EQ(w.table.ModelName, "PMX-31570A");
    EXPECT_EQ(w.table.ItemName[0], "Instrument status");
    ASSERT_EQ(win.errors.size(), 1);
    EXPECT_TRUE(win.errors[0].contains("short.txt"));
}

TEST(MainMenus, DialogsOpenOnceAndReportShowsFreshData) {
    Window win(false);
    MainDisp& w = *win.w;
    w.menu_ver->trigger();
    w.menu_ver->trigger();
    EXPECT_EQ(w.findChildren<SubDisp_About*>().size(), 1);

    w.table.ItemName[0] = "Only";
    w.menu_data->trigger();
    ReportWindow* report = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && qobject_cast<ReportWindow*>(top))
            report = qobject_cast<ReportWindow*>(top);
    ASSERT_TRUE(report && report->hasReport()); // refreshing is the report window's test
    EXPECT_EQ(report->report()->parameterRows().first().rp_dataitem, "Only");
    report->close();
}

TEST(MainMenus, HelpStartsAViewerThatShutdownCloses) {
    Window win(false);
    MainDisp& w = *win.w;
    // A stand-in viewer that records what it was asked to open.
    const QString viewer = win.file(
        "viewer.sh",
        ("#!/bin/sh\necho \"$1\" > '" + win.path("opened") + "'\nexec sleep 60\n").toUtf8());
    QFile::setPermissions(viewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PMX31570A_HELP_VIEWER", viewer.toUtf8());
    w.menu_help->trigger();
    qunsetenv("PMX31570A_HELP_VIEWER");
    ASSERT_EQ(w.helpViewers().size(), 1);
    QProcess* process = w.helpViewers().first();
    ASSERT_TRUE(process->waitForStarted(10000));
    for (int k = 0; k < 100 && !QFile::exists(win.path("opened")); ++k)
        QTest::qWait(50);
    QFile opened(win.path("opened"));
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll().trimmed(), w.HelpPath.toUtf8());
    EXPECT_TRUE(win.errors.isEmpty()); // a missing help file is the viewer's to report

    win.answer = true;
    w.menu_file_end->trigger(); // End asks like closing the window
    EXPECT_EQ(win.asked.last(), strings::text(51));
    EXPECT_TRUE(w.helpViewers().isEmpty());
    EXPECT_TRUE(QFile::exists(win.path("PMX31570A.ini")));
}

namespace {

// The value cells as shown, and as the page, the DEC/HEX choice and the table want them.
std::pair<std::string, std::string> cells(const MainDisp& w) {
    QStringList shown, due;
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = (w.selectedTab() - 1) * kRowsPerPage + r;
        shown << w.Data0[r]->text();
        due << (w.table.isSelected(i) ? w.hexordec(w.table.ItemData[i]) : QString("------"));
    }
    return {shown.join('|').toStdString(), due.join('|').toStdString()};
}

} // namespace

TEST(MainWindow, ValueCellsFollowEveryChangeWhileCommunicationIsStopped) {
    Window win(false);
    win.com->openOk = false;
    win.start();
    MainDisp& w = *win.w;
    for (int i = 0; i < kItemCount; ++i)
        w.table.ItemData[i] = qint16(1000 + i);
    w.table.ItemSel[33] = 1;
    win.nextFile = win.path("other.dat"); // saved with item 34 selected, loaded without
    w.table.ItemSel[34] = 1;
    w.Command_File[1]->click();
    w.table.ItemSel[34] = 0;
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"tab", [&] { w.TabStrip1->setCurrentIndex(1); }},
        {"HEX", [&] { w.Option1[1]->setChecked(true); }},
        {"data file", [&] { w.Command_File[0]->click(); }},
        {"value pad",
         [&] {
             w.Data0_Click(1);
             w.valueDialog()->Ten_key_Click(7);
             w.valueDialog()->Command3_Click();
         }},
    };
    for (const auto& [change, make] : changes) {
        const std::string before = cells(w).first;
        make();
        const auto [shown, due] = cells(w);
        EXPECT_EQ(shown, due) << change;
        EXPECT_NE(shown, before) << change;
    }
}

TEST(MainWindow, StatusFrameShowsTheConditionsInEffectAfterOk) {
    Window win;
    MainDisp& w = *win.w;
    SubDisp_comm* dlg = w.conditionDialog();
    for (const auto& [combo, typed] : {std::pair{"Combo_Prot", "Modbus RTU"}, {"Combo_Dev", "96"},
                                       {"Combo_Rate", "115200"}, {"Combo_Dat", "9 bit"},
                                       {"Combo_Party", "ODD"}, {"Combo_Time", "250"}})
        dlg->findChild<QComboBox*>(combo)->setEditText(typed);
    dlg->Command1_Click();
    w.dispatcher().tick();
    QStringList shown;
    for (const QLabel* label : w.Label_commdat)
        shown << label->text();
    EXPECT_EQ(shown.join('|'), "Modbus RTU|0|9600|7 bit|1 bit|ODD|COM1|250");
    // The shared store goes back to the defaults for the tests that follow.
    QSettingsStore store;
    cond::writeStored(store, {"KORVAN", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"});
}

TEST(MainWindow, LongReasonWrapsInFullInTheStatusFrame) {
    Window plain(false);
    plain.w->show();
    Window win(false);
    win.com->openOk = false;
    win.com->openErrorText = strings::text(212).arg(
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5ABC-if00-port0");
    win.start();
    win.w->show();
    for (int pass = 0; pass < 3; ++pass) // showing, then the lines' height
        QCoreApplication::processEvents();
    QLabel* port = win.w->Label_port;
    EXPECT_EQ(port->toolTip(), win.com->openErrorText);
    EXPECT_EQ(port->text().remove(QChar(0x200B)), win.com->openErrorText);
    EXPECT_GE(port->height(), port->heightForWidth(port->width())) << "cut off at the bottom";
    EXPECT_LE(port->geometry().right(), win.w->Frame_Comm->contentsRect().right());
    EXPECT_LE(win.w->sizeHint().width(), plain.w->sizeHint().width() + 10) << "widened";
}

TEST(MainWindow, FailuresDoNotPostponeTheReturnOfTheModelName) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ModelName = QStringLiteral("PMX-31570A");
    w.Timer2.setInterval(150); // the rule, not the length, is tested
    for (int i = 0; i < 24; ++i) {
        w.table.ItemSel[i] = 1;
        win.com->faults[i] = "nak";
    }
    QStringList seen; // the label as each exchange starts
    win.com->onSend = [&] {
        seen << w.Label_Modelname->text();
        QThread::msleep(25);
    };
    w.postTask(kTaskReadAll);
    w.dispatcher().tick();
    // Restarted by every failure, the model name would never come back during the run;
    // the failure after its return shows again and starts the next 150 ms.
    int returns = 0;
    for (int k = 2; k < seen.size(); ++k)
        returns += seen[k] == QStringLiteral("PMX-31570A") && seen[k - 1] == strings::text(100);
    EXPECT_GE(returns, 2) << seen.join('|').toStdString();
}

TEST(MainWindow, LostDeviceIsWatchedAndReopenedByItself) {
    Window win(false);
    ASSERT_TRUE(QDir(win.home.path()).mkdir(QStringLiteral("by-id")));
    const QString stable = win.path("by-id/usb-Maker_A-if00-port0");
    const QString first = win.file("ttyUSB0", {});
    ASSERT_TRUE(QFile::link(first, stable));
    win.w->setDeviceAliasDir(win.path("by-id"));
    win.com->devicePath = first;
    win.start();
    MainDisp& w = *win.w;
    w.table.ModelName = QStringLiteral("PMX-31570A");
    const QString lost = strings::text(200).arg(first);
    const auto expectLost = [&](const char* when) {
        EXPECT_EQ(w.Label_Modelname->text(), lost) << when;
        EXPECT_TRUE(w.Label_port->toolTip().contains(lost)) << when;
        EXPECT_FALSE(w.Command_Move[0]->isEnabled() || w.Command_Move[1]->isEnabled()) << when;
    };

    QFile::remove(first);
    win.com->loseDevice();
    win.com->loseDevice(); // told once
    w.Timer2_Timer();
    w.TabStrip1->setCurrentIndex(1);
    w.dispatcher().tick();
    static_cast<TransferView&>(w).showError(102, 0);
    expectLost("after Timer2, a page change, an idle tick and an item failure");
    w.Timer_lost_Timer();
    EXPECT_NE(w.dispatcher().CommTask, kTaskApply) << "a dangling name is no device";

    // Back under another kernel name but not usable yet: the watch goes on.
    const QString second = win.file("ttyUSB1", {});
    QFile::remove(stable);
    ASSERT_TRUE(QFile::link(second, stable));
    win.com->devicePath = second;
    win.com->openOk = false;
    w.Timer_lost_Timer();
    ASSERT_EQ(w.dispatcher().CommTask, kTaskApply);
    w.dispatcher().tick();
    expectLost("after a failed reopening");

    // Usable: reopened with the stored conditions, and said so until Timer2.
    QSettingsStore().setValue(cond::kSection, cond::kSpeed, QStringLiteral("19200"));
    win.com->openOk = true;
    w.Timer_lost_Timer();
    w.dispatcher().tick();
    QSettingsStore().setValue(cond::kSection, cond::kSpeed, QStringLiteral("9600"));
    EXPECT_EQ(win.com->Rate, QStringLiteral("19200"));
    EXPECT_TRUE(w.Command_Move[0]->isEnabled());
    EXPECT_EQ(w.Label_Modelname->text(), strings::text(201).arg(second));
    w.Timer2_Timer();
    EXPECT_EQ(w.Label_Modelname->text(), QStringLiteral("PMX-31570A"));
}

TEST(MainWindow, NoticeIsToldOnceAfterTheTransfer) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ItemSel[1] = 1;
    w.table.ItemSel[2] = 1;
    TransferView& view = w;
    win.com->onSend = [&] { view.notice(QStringLiteral("N")); };
    w.postTask(kTaskReadAll);
    w.dispatcher().tick();
    EXPECT_TRUE(win.infos.isEmpty()) << "no box in the middle of a transfer";
    QCoreApplication::processEvents();
    view.notice(QStringLiteral("M")); // outside a transfer: at once
    QCoreApplication::processEvents();
    EXPECT_EQ(win.infos, QStringList({"N", "M"}));
}
