// The main window offscreen, with a fake communication object and scripted prompts:
// pages, tasks, failures, closing and object names (the line's state and help have files
// of their own).
#include "MainWindowFixture.h"
#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "model/TableFile.h"
#include "text/StringTable.h"
#include "ui/AboutDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/ValuePadDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using namespace pmx;
using namespace pmx::test;

TEST(MainWindow, UndefinedItemCannotBeSelected) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.names[3] = QStringLiteral("Spare----");
        t.names[4] = QStringLiteral("Gain");
    });
    selectBox(w, 3)->click();
    selectBox(w, 4)->click();
    EXPECT_FALSE(selectBox(w, 3)->isChecked());
    EXPECT_EQ(w.items().selections[3], Selection::Cleared);
    EXPECT_EQ(w.items().selections[4], Selection::Selected);

    // A page refresh that turns on the box of a selected undefined item clears it.
    win.edit([](ItemTable& t) {
        t.names[40] = QStringLiteral("Spare----");
        t.selections[40] = Selection::Selected;
    });
    tabs(w)->setCurrentIndex(1);
    EXPECT_FALSE(selectBox(w, 8)->isChecked());
    EXPECT_EQ(w.items().selections[40], Selection::Cleared);
}

TEST(MainWindow, WriteAnsweredNoOrConfirmedDuringAReadStartsNothing) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.selections[1] = Selection::Selected;
        t.selections[2] = Selection::Selected;
    });
    win.answer = false;
    writeButton(w)->click();
    EXPECT_EQ(win.asked.last(), strings::text(TextId::ConfirmWrite));
    EXPECT_EQ(w.pendingTask(), kTaskIdle);

    win.answer = true;
    bool clicked = false;
    win.com->onSend = [&] {
        if (!clicked) {
            clicked = true;
            writeButton(w)->click(); // answered Yes while the read runs
        }
    };
    readButton(w)->click();
    w.onDispatcherTick();
    w.onDispatcherTick();
    EXPECT_EQ(win.com->log, (QStringList{"R 0001", "R 0002"}));
    EXPECT_EQ(w.pendingTask(), kTaskIdle);
}

TEST(MainWindow, FailureShownInRedForAWhile) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.modelName = QStringLiteral("PMX-31570A");
        t.selections[5] = Selection::Selected;
    });
    win.com->faults[5] = "nak";
    w.postTask(kTaskReadAll);
    w.onDispatcherTick();
    EXPECT_EQ(modelLabel(w)->text(), strings::text(TextId::NegativeAcknowledgement));
    EXPECT_TRUE(w.failureOnShow());
    w.endFailureDisplay();
    EXPECT_EQ(modelLabel(w)->text(), QStringLiteral("PMX-31570A"));
    EXPECT_FALSE(w.failureOnShow());

    // A failed apply right after an item failure keeps its message: no restore follows.
    w.postTask(kTaskReadAll);
    w.onDispatcherTick();
    ASSERT_TRUE(w.failureOnShow());
    win.com->openOk = false;
    w.postTask(kTaskApply);
    w.onDispatcherTick();
    EXPECT_FALSE(w.failureOnShow());
    EXPECT_EQ(modelLabel(w)->text(), strings::text(TextId::CommunicationError));
}

TEST(MainWindow, CloseQuestionNoKeepsRunningYesSaves) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.modelName = QStringLiteral("PMX-31570A");
        t.values[127] = -32768;
    });
    win.answer = false;
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(win.asked.last(), strings::text(TextId::ConfirmClose));
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
    EXPECT_EQ(again.w->items().modelName, QStringLiteral("PMX-31570A"));
    EXPECT_EQ(again.w->items().values[127], -32768);
    EXPECT_EQ(modelLabel(*again.w)->text(), QStringLiteral("PMX-31570A"));
}

TEST(MainWindow, WidgetsKeepTheirObjectNames) {
    // The names are an interface for tests and accessibility tools (docs/architecture.md).
    Window win(false);
    MainWindow& w = *win.w;
    w.editValue(0);
    action(w, "menu_ver")->trigger();
    const auto rows = [](const char* stem, int count) {
        QStringList names;
        for (int k = 0; k < count; ++k)
            names << QStringLiteral("%1_%2").arg(QLatin1String(stem)).arg(k);
        return names;
    };
    const std::pair<QWidget*, QStringList> windows[] = {
        {&w, QStringList{"Label_Modelname", "TabStrip1",      "Option1_0",        "Option1_1",
                         "Frame_Move",      "Command_Move_0", "Command_Move_1",   "Frame_File",
                         "Command_File_0",  "Command_File_1", "Check_write",      "Frame_Comm",
                         "Label_port",      "ProgressBar1",   "menu_file",        "menu_data",
                         "menu_export",     "menu_file_end",  "menu_set",         "menu_set_com",
                         "menu_set_model",  "numlin2",        "menu_set_comdata", "menu_ver",
                         "menu_help"} +
                 rows("Label_row", kRowsPerPage) + rows("Check_Command", kRowsPerPage) +
                 rows("Text1", kRowsPerPage) + rows("Data0", kRowsPerPage) + rows("Label_comm", 8) +
                 rows("Label_commdat", 8)},
        {w.conditionsDialog(), QStringList{"Combo_Prot", "Combo_Dev", "Combo_Rate", "Combo_Dat",
                                           "Combo_Stop", "Combo_Party", "Combo_Port", "Combo_Time",
                                           "Label3", "Label1", "Label_broadcast", "Command1"} +
                                   rows("Label_name", 8)},
        {w.selectionDialog(),
         QStringList{"Command1", "Command2"} + rows("Frame_page", 4) + rows("Check1", kItemCount)},
        {w.valueDialog(),
         QStringList{"Label1_2", "Text1_1", "Label1_0", "Now_data", "Disp_setdata", "change_data",
                     "Command1", "Command2", "Command3", "Command4"} +
             rows("Ten_key", 10)},
        {w.aboutDialog(), {"Image1", "Label1", "Label6", "Label3", "Label4", "Label2", "Command1"}},
    };
    const QStringList windowNames{"MainDisp", "SubDisp_comm", "SubDisp_command", "Setting_Disp",
                                  "SubDisp_About"};
    for (int k = 0; k < int(std::size(windows)); ++k) {
        const auto& [window, names] = windows[k];
        ASSERT_TRUE(window) << k;
        EXPECT_EQ(window->objectName(), windowNames[k]);
        for (const QString& name : names)
            EXPECT_NE(window->findChild<QObject*>(name), nullptr) << qPrintable(name);
    }
}

namespace {

// The value cells as shown, and as the page, the DEC/HEX choice and the table want them.
std::pair<std::string, std::string> cells(MainWindow& w) {
    QStringList shown, due;
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = w.currentPage() * kRowsPerPage + r;
        shown << valueCell(w, r)->text();
        due << (w.items().isSelected(i) ? w.formatValue(w.items().values[i]) : QString("------"));
    }
    return {shown.join('|').toStdString(), due.join('|').toStdString()};
}

} // namespace

TEST(MainWindow, ValueCellsFollowEveryChangeWhileCommunicationIsStopped) {
    Window win(false);
    win.com->openOk = false;
    win.start();
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        for (int i = 0; i < kItemCount; ++i)
            t.values[i] = qint16(1000 + i);
        t.selections[33] = Selection::Selected;
        t.selections[34] = Selection::Selected;
    });
    win.nextFile = win.path("other.dat"); // saved with item 34 selected, loaded without
    saveButton(w)->click();
    win.edit([](ItemTable& t) { t.selections[34] = Selection::Cleared; });
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"tab", [&] { tabs(w)->setCurrentIndex(1); }},
        {"HEX", [&] { hexButton(w)->setChecked(true); }},
        {"data file", [&] { loadButton(w)->click(); }},
        {"value pad",
         [&] {
             w.editValue(1);
             w.valueDialog()->pressDigit(7);
             w.valueDialog()->storeValue();
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
    MainWindow& w = *win.w;
    ConditionsDialog* dlg = w.conditionsDialog();
    for (const auto& [combo, typed] : {std::pair{"Combo_Prot", "Modbus RTU"},
                                       {"Combo_Dev", "96"},
                                       {"Combo_Rate", "115200"},
                                       {"Combo_Dat", "9 bit"},
                                       {"Combo_Party", "ODD"},
                                       {"Combo_Time", "250"}})
        dlg->findChild<QComboBox*>(combo)->setEditText(typed);
    dlg->storeConditions();
    w.onDispatcherTick();
    QStringList shown;
    for (int k = 0; k < 8; ++k)
        shown << child<QLabel>(&w, "Label_commdat", k)->text();
    EXPECT_EQ(shown.join('|'), "Modbus RTU|0|9600|7 bit|1 bit|ODD|COM1|250");
    // The shared store goes back to the defaults for the tests that follow.
    QSettingsStore store;
    cond::writeStored(store, {"KORVAN", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"});
}

TEST(MainWindow, FailuresDoNotPostponeTheReturnOfTheModelName) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) { t.modelName = QStringLiteral("PMX-31570A"); });
    w.setFailureDisplayTime(150); // the rule, not the length, is tested
    win.edit([](ItemTable& t) { std::fill_n(t.selections.begin(), 24, Selection::Selected); });
    for (int i = 0; i < 24; ++i)
        win.com->faults[i] = "nak";
    QStringList seen; // the label as each exchange starts
    win.com->onSend = [&] {
        seen << modelLabel(w)->text();
        QThread::msleep(25);
    };
    w.postTask(kTaskReadAll);
    w.onDispatcherTick();
    // Restarted by every failure, the model name would never come back during the run;
    // the failure after its return shows again and starts the next 150 ms.
    int returns = 0;
    for (int k = 2; k < seen.size(); ++k)
        returns += seen[k] == QStringLiteral("PMX-31570A") &&
                   seen[k - 1] == strings::text(TextId::NegativeAcknowledgement);
    EXPECT_GE(returns, 2) << seen.join('|').toStdString();
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
        const QString created = strings::text(TextId::FileNotCreated);
        EXPECT_TRUE(question.contains(created.left(created.indexOf(u'%'))))
            << question.toStdString();
    }
}

TEST(MainWindow, AStateFileThatWasNotLoadedIsToldOnceAndKeptBeforeTheSave) {
    const QByteArray good = [] {
        ItemTable t;
        t.modelName = QStringLiteral("Kept");
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
        EXPECT_EQ(win.w->items().modelName, QStringLiteral("Kept")) << c.what;
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

TEST(MainMenus, ExportAppendsToTheChosenCsv) {
    Window win(false);
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.names.fill("X----");
        t.names[0] = "P0";
        t.values[0] = -5;
    });
    win.nextFile = win.path("list.csv");
    action(w, "menu_export")->trigger();
    EXPECT_TRUE(win.appendChosen); // never "replace?" for a file the rows are added to
    EXPECT_EQ(win.infos, QStringList{"1 items written to the new file " +
                                     QDir::toNativeSeparators(win.nextFile)});
    EXPECT_TRUE(win.lastFile.proposed.startsWith("PMX-31570A"));
    EXPECT_TRUE(win.lastFile.proposed.endsWith(".csv"));
    EXPECT_TRUE(win.lastFile.dir.endsWith("/csvdata"));
    hexButton(w)->setChecked(true);
    action(w, "menu_export")->trigger();
    EXPECT_EQ(win.infos.last(), "1 items appended to " + QDir::toNativeSeparators(win.nextFile));
    QFile f(win.nextFile); // the bytes of a block are the CSV writer's tests' business
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.count("\"Data Item\""), 2);
    EXPECT_LT(bytes.indexOf("\"P0\",-5\r\n"), bytes.indexOf("\"P0\",\"FFFBh\"\r\n"));
    win.nextFile = win.path("missing/list.csv");
    action(w, "menu_export")->trigger();
    EXPECT_EQ(win.errors.size(), 1);
    EXPECT_EQ(win.infos.size(), 2);
}
