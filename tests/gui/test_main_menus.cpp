// Menus, file commands and captions of the main window, offscreen.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "app/MainDisp.h"
#include "model/TableFile.h"
#include "ui/ReportWindow.h"
#include "ui/SubDisp_About.h"
#include "ui/SubDisp_command.h"
#include "ui/SubDisp_comm.h"
#include "ui/strings/StringTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

test::PrivateSettingsScope g_scope;

struct Window : test::ScriptedPrompts {
    QTemporaryDir home;
    std::unique_ptr<MainDisp> w;

    explicit Window(strings::Lang lang = strings::Lang::English) {
        strings::setLanguage(lang);
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        w = std::make_unique<MainDisp>(std::make_unique<test::FakeComm>(), prompts());
    }
    ~Window() { strings::setLanguage(strings::Lang::English); }
    QString path(const char* name) const { return home.path() + QLatin1Char('/') + QLatin1String(name); }
};

} // namespace

TEST(MainMenus, CaptionsAndHelpFileFollowTheLanguage) {
    {
        Window win;
        EXPECT_EQ(win.w->windowTitle(), "PMX-31570A Setting software");
        EXPECT_EQ(win.w->menu_file->title(), "File(&F)");
        EXPECT_EQ(win.w->menu_set_comdata->text(), "Communication condition(&N)");
        EXPECT_TRUE(win.w->table.LangEng);
        EXPECT_TRUE(win.w->HelpPath.endsWith("/PMX-31570A_E.chm"));
        EXPECT_EQ(win.w->TabStrip1->tabText(3), "0060-007Fh");
    }
    Window ja(strings::Lang::Japanese);
    EXPECT_EQ(ja.w->windowTitle(), QString::fromUtf8("PMX-31570A 設定ソフトウェア"));
    EXPECT_EQ(ja.w->menu_file->title(), QString::fromUtf8("ファイル(&F)"));
    EXPECT_EQ(ja.w->Check_write->text(), QString::fromUtf8("設定値変更時コマンド送信する。"));
    EXPECT_FALSE(ja.w->table.LangEng);
    EXPECT_TRUE(ja.w->HelpPath.endsWith("/PMX-31570A_J.chm"));
    for (QAction* a : {ja.w->menu_data, ja.w->menu_export, ja.w->menu_file_end, ja.w->menu_set_com,
                       ja.w->menu_set_model, ja.w->menu_set_comdata, ja.w->menu_ver, ja.w->menu_help})
        EXPECT_TRUE(a->isEnabled()) << qPrintable(a->objectName());
}

TEST(MainMenus, DataFileSaveAndLoadRoundTrip) {
    Window win;
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
    QFile f(win.nextFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().count("\r\n"), 385);

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
}

TEST(MainMenus, BrokenDataFileChangesNothingAndSaysWhere) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ModelName = "kept";
    QFile f(win.path("cut.dat"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\"new model\"\r\n\"a\"\r\n");
    f.close();
    win.nextFile = f.fileName();
    w.Command_File[0]->click();
    EXPECT_EQ(w.table.ModelName, "kept");
    EXPECT_EQ(w.table.ItemName[0], "");
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
    Window win;
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
    QFile f(win.nextFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("\"PMX-31570A Setting software\"\r\n\"Parameter\"\r\n"
                                      "\"Data Item\",\"Data\"\r\n\"P0\",-5\r\n"
                                      "\"PMX-31570A Setting software\"\r\n\"Parameter\"\r\n"
                                      "\"Data Item\",\"Data\"\r\n\"P0\",\"FFFBh\"\r\n"));
    win.nextFile = win.path("missing/list.csv");
    w.menu_export->trigger();
    EXPECT_EQ(win.errors.size(), 1);
}

TEST(MainMenus, UnitSelectionLoadsNamesOrRefusesWholly) {
    Window win;
    MainDisp& w = *win.w;
    win.nextFile = QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a-sjis.txt");
    w.menu_set_model->trigger();
    EXPECT_EQ(win.lastFile.filter, "*.txt(text file)|*.txt");
    EXPECT_EQ(w.table.ModelName, "PMX-31570A");
    EXPECT_EQ(w.table.ItemName[0], "Instrument status");
    EXPECT_EQ(w.Text1[0]->text(), "Instrument status");
    EXPECT_EQ(w.Label_Modelname->text(), "PMX-31570A");

    QFile f(win.path("short.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\"Other\"\r\n\"a\"\r\n");
    f.close();
    win.nextFile = f.fileName();
    w.menu_set_model->trigger();
    EXPECT_EQ(w.table.ModelName, "PMX-31570A");
    EXPECT_EQ(w.table.ItemName[0], "Instrument status");
    ASSERT_EQ(win.errors.size(), 1);
    EXPECT_TRUE(win.errors[0].contains("short.txt"));
}

TEST(MainMenus, DialogsOpenOnceAndReportShowsFreshData) {
    Window win;
    MainDisp& w = *win.w;
    w.menu_ver->trigger();
    w.menu_ver->trigger();
    EXPECT_EQ(w.findChildren<SubDisp_About*>().size(), 1);
    EXPECT_TRUE(w.aboutDialog()->isVisible());

    w.menu_set_com->trigger();
    EXPECT_TRUE(w.selectionDialog()->isVisible());
    w.menu_set_comdata->trigger();
    EXPECT_TRUE(w.conditionDialog()->isVisible());

    w.table.ItemName[0] = "Only";
    w.menu_data->trigger();
    auto* report = qobject_cast<ReportWindow*>(QApplication::activeModalWidget());
    if (!report) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "rptver" && top->isVisible())
                report = qobject_cast<ReportWindow*>(top);
    }
    ASSERT_TRUE(report);
    ASSERT_TRUE(report->hasReport());
    EXPECT_EQ(report->report()->parameterRows().first().rp_dataitem, "Only");
    w.table.ItemName[0] = "Fresh";
    w.menu_data->trigger();
    EXPECT_EQ(report->report()->parameterRows().first().rp_dataitem, "Fresh");
    report->close();
}

TEST(MainMenus, HelpStartsAViewerThatShutdownCloses) {
    Window win;
    MainDisp& w = *win.w;
    // A stand-in viewer that records what it was asked to open.
    const QString viewer = win.path("viewer.sh");
    QFile script(viewer);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\necho \"$1\" > '" + win.path("opened") + "'\nexec sleep 60\n").toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
