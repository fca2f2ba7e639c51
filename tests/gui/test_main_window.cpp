// The main window offscreen, with a fake communication object and scripted prompts.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "app/MainDisp.h"
#include "model/StateFile.h"
#include "ui/Setting_Disp.h"
#include "ui/SubDisp_command.h"
#include "ui/strings/StringTable.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

test::PrivateSettingsScope g_scope;

struct Window : test::ScriptedPrompts {
    QTemporaryDir home;
    test::FakeComm* com = nullptr;
    std::unique_ptr<MainDisp> w;

    explicit Window(bool start = true, std::function<void(const QString&)> beforeStart = {}) {
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
    }
    QString stateFile() const { return home.path() + QStringLiteral("/PMX31570A.ini"); }
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
    w.dispatcher().tick();
    EXPECT_EQ(w.Data0[5]->text(), QStringLiteral("-1"));
    w.Option1[1]->setChecked(true);
    w.dispatcher().tick();
    EXPECT_EQ(w.Data0[5]->text(), QStringLiteral("FFFFh"));
    w.table.ItemSel[69] = 0;
    w.dispatcher().tick();
    EXPECT_EQ(w.Data0[5]->text(), QStringLiteral("------"));
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
    Window good;
    EXPECT_TRUE(good.w->Command_Move[0]->isEnabled());
    EXPECT_TRUE(good.w->Frame_Move->isEnabled());
    EXPECT_EQ(good.w->Label_commdat[0]->text(), QStringLiteral("KORVAN"));
    EXPECT_EQ(good.w->Label_commdat[7]->text(), QStringLiteral("300"));
    EXPECT_EQ(good.w->dispatcher().CommTask, kTaskIdle);

    Window bad(false);
    bad.com->openOk = false;
    bad.w->communicate();
    bad.w->dispatcher().tick();
    EXPECT_EQ(bad.w->Label_Modelname->text(), strings::text(50));
    EXPECT_FALSE(bad.w->Command_Move[1]->isEnabled());
    EXPECT_TRUE(bad.w->Label_commdat[0]->text().isEmpty());
    EXPECT_EQ(bad.w->dispatcher().CommTask, kTaskStopped);
}

TEST(MainWindow, ReadAndWriteAskFirst) {
    Window win;
    MainDisp& w = *win.w;
    win.answer = false;
    w.Command_Move[1]->click();
    EXPECT_EQ(win.asked.last(), strings::text(53));
    EXPECT_EQ(w.dispatcher().CommTask, kTaskIdle);
    win.answer = true;
    w.table.ItemSel[1] = 1;
    w.Command_Move[0]->click();
    EXPECT_EQ(win.asked.last(), strings::text(52));
    EXPECT_EQ(w.dispatcher().CommTask, kTaskReadAll);
    w.dispatcher().tick();
    EXPECT_EQ(win.com->log, QStringList{"R 0001"});
    EXPECT_EQ(w.table.ItemData[1], 10);
    EXPECT_FALSE(w.ProgressBar1->isVisible());
}

TEST(MainWindow, WriteConfirmedDuringAReadIsDropped) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ItemSel[1] = 1;
    w.table.ItemSel[2] = 1;
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

TEST(MainWindow, ValueDialogSendsOnlyWhenAsked) {
    Window win;
    MainDisp& w = *win.w;
    w.table.ItemSel[2] = 1;
    w.Data0_Click(2);
    ASSERT_TRUE(w.valueDialog());
    EXPECT_EQ(w.table.CurItem, 2);
    QTest::keyClicks(w.valueDialog()->findChild<QLineEdit*>(QStringLiteral("Disp_setdata")), "42");
    QTest::keyClick(w.valueDialog()->findChild<QLineEdit*>(QStringLiteral("Disp_setdata")), Qt::Key_Return);
    EXPECT_EQ(w.table.ItemData[2], 42);
    w.dispatcher().tick();
    EXPECT_TRUE(win.com->log.isEmpty()); // Check_write not ticked

    w.Check_write->setChecked(true);
    w.Data0_Click(2);
    QTest::keyClicks(w.valueDialog()->findChild<QLineEdit*>(QStringLiteral("Disp_setdata")), "7-");
    QTest::keyClick(w.valueDialog()->findChild<QLineEdit*>(QStringLiteral("Disp_setdata")), Qt::Key_Return);
    w.dispatcher().tick();
    EXPECT_EQ(win.com->log, QStringList{"W 0002 FFF9"});
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
    EXPECT_FALSE(QFile::exists(win.stateFile()));

    win.answer = true;
    EXPECT_TRUE(w.close());
    QFile f(win.stateFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.count("\r\n"), 385);
    EXPECT_TRUE(bytes.endsWith("-32768\r\n"));

    // The next start loads it.
    Window again(false, [&](const QString& home) {
        QFile::copy(win.stateFile(), home + QStringLiteral("/PMX31570A.ini"));
    });
    EXPECT_EQ(again.w->table.ModelName, QStringLiteral("PMX-31570A"));
    EXPECT_EQ(again.w->table.ItemData[127], -32768);
    EXPECT_EQ(again.w->Label_Modelname->text(), QStringLiteral("PMX-31570A"));
}

TEST(MainWindow, UnsavableStateFileLetsTheOperatorChoose) {
    Window win;
    MainDisp& w = *win.w;
    // A directory in the way of the state file makes the save fail.
    ASSERT_TRUE(QDir(win.home.path()).mkdir(QStringLiteral("PMX31570A.ini")));
    win.answers = {true, false}; // close? Yes; close without saving? No
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(win.asked.size(), 2);
    EXPECT_TRUE(win.asked[1].contains(QStringLiteral("PMX31570A.ini")));
    win.answers = {true, true};
    EXPECT_TRUE(w.close());
}
