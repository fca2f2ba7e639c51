// The main window offscreen, with a fake communication object and scripted prompts:
// pages, tasks, failures, closing, menus and file commands.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "app/MainDisp.h"
#include "model/TableFile.h"
#include "ui/ReportWindow.h"
#include "ui/Setting_Disp.h"
#include "ui/SubDisp_About.h"
#include "ui/SubDisp_comm.h"
#include "ui/SubDisp_command.h"
#include "ui/strings/StringTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace pmx;

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
        if (start) {
            w->communicate();
            QCoreApplication::processEvents();
            w->dispatcher().tick(); // the first tick applies the conditions
        }
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

TEST(MainWindow, SaveFailureAtCloseKeepsTheWindowByDefaultInItsLanguage) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Window win(true, lang);
        ASSERT_TRUE(QDir(win.home.path()).mkdir(QStringLiteral("PMX31570A.ini")));
        win.answers = {true, false};
        EXPECT_FALSE(win.w->close());
        ASSERT_EQ(win.askedDefaultNo.size(), 1); // two Enters must not lose the table
        const QString question = win.askedDefaultNo.last();
        EXPECT_EQ(question, win.asked.last());
        const QString path = QDir::toNativeSeparators(win.path("PMX31570A.ini"));
        EXPECT_EQ(question.count(path), 1) << question.toStdString();
        // The reason is one of ours, in the window's language.
        const QString created = strings::text(245);
        EXPECT_TRUE(question.contains(created.left(created.indexOf(u'%'))))
            << question.toStdString();
    }
}

TEST(MainWindow, AStateFileThatWasNotLoadedIsToldOnceAndKeptBeforeTheSave) {
    const QByteArray good = [] {
        ItemTable t;
        t.ModelName = QStringLiteral("Kept");
        return writeTableFile(t).value();
    }();
    const struct {
        const char* what;
        QByteArray bytes;
        bool loads;
    } cases[] = {{"junk after the fields", good + QByteArray(5 * 1024 * 1024, '\xA5'), true},
                 {"cut short", good.left(good.indexOf("\r\n\"\"\r\n0\r\n")), false},
                 {"a bad value", good.left(good.size() - 3) + "x\r\n", false}};
    for (const auto& c : cases) {
        Window win(false, strings::Lang::English, [&](const QString& home) {
            QFile f(home + QStringLiteral("/PMX31570A.ini"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(c.bytes) == c.bytes.size());
        });
        EXPECT_EQ(win.w->table.ModelName, QStringLiteral("Kept")) << c.what;
        EXPECT_EQ(win.errors.size(), c.loads ? 0 : 1) << c.what;
        if (!c.loads) {
            EXPECT_TRUE(win.errors[0].contains(QStringLiteral("PMX31570A.ini.bak")));
            EXPECT_TRUE(win.errors[0].contains(QStringLiteral("line"))) << c.what;
        }
        win.answer = true;
        EXPECT_TRUE(win.w->close());
        EXPECT_EQ(QFile::exists(win.path("PMX31570A.ini.bak")), !c.loads) << c.what;
        if (!c.loads) {
            QFile kept(win.path("PMX31570A.ini.bak"));
            ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
            EXPECT_EQ(kept.readAll(), c.bytes) << c.what;
        }
        QFile saved(win.path("PMX31570A.ini"));
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(saved.readAll().startsWith("\"Kept\"\r\n")) << c.what;
        EXPECT_EQ(win.errors.size(), c.loads ? 0 : 1) << "said once: " << c.what;
    }
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
    EXPECT_TRUE(win.appendChosen); // never "replace?" for a file the rows are added to
    EXPECT_EQ(win.infos, QStringList{"1 items written to the new file " +
                                     QDir::toNativeSeparators(win.nextFile)});
    EXPECT_TRUE(win.lastFile.proposed.startsWith("PMX-31570A"));
    EXPECT_TRUE(win.lastFile.proposed.endsWith(".csv"));
    EXPECT_TRUE(win.lastFile.dir.endsWith("/csvdata"));
    w.Option1[1]->setChecked(true);
    w.menu_export->trigger();
    EXPECT_EQ(win.infos.last(), "1 items appended to " + QDir::toNativeSeparators(win.nextFile));
    QFile f(win.nextFile); // the bytes of a block are the CSV writer's tests' business
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.count("\"Data Item\""), 2);
    EXPECT_LT(bytes.indexOf("\"P0\",-5\r\n"), bytes.indexOf("\"P0\",\"FFFBh\"\r\n"));
    win.nextFile = win.path("missing/list.csv");
    w.menu_export->trigger();
    EXPECT_EQ(win.errors.size(), 1);
    EXPECT_EQ(win.infos.size(), 2);
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
