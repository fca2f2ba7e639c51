// The main window offscreen, with a fake communication object and scripted prompts:
// pages, tasks, failures, closing and the state file (the line's state and help have files
// of their own).
#include "MainWindowFixture.h"
#include "model/TableFile.h"
#include "ui/AboutDialog.h"
#include "ui/CompareDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/ValuePadDialog.h"

#include <QComboBox>
#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <utility>

using namespace pmx;
using namespace pmx::test;

TEST(MainWindow, UndefinedItemCannotBeSelected) {
    Window win;
    win.edit([](ItemTable& t) { t.names[3] = QStringLiteral("Spare----"); });
    win.selectBox(3)->click();
    win.selectBox(4)->click();
    EXPECT_FALSE(win.selectBox(3)->isChecked());
    EXPECT_EQ(win.w->items().selections[3], Selection::Cleared);
    EXPECT_EQ(win.w->items().selections[4], Selection::Selected);

    // A page refresh that turns on the box of a selected undefined item clears it.
    win.edit([](ItemTable& t) {
        t.names[40] = QStringLiteral("Spare----");
        t.selections[40] = Selection::Selected;
    });
    win.tabs()->setCurrentIndex(1);
    EXPECT_FALSE(win.selectBox(8)->isChecked());
    EXPECT_EQ(win.w->items().selections[40], Selection::Cleared);
}

TEST(MainWindow, WriteAnsweredNoOrConfirmedDuringAReadStartsNothing) {
    Window win;
    win.edit([](ItemTable& t) {
        t.selections[1] = Selection::Selected;
        t.selections[2] = Selection::Selected;
    });
    win.answer = false;
    win.writeButton()->click();
    EXPECT_EQ(win.asked.value(win.asked.size() - 1), strings::text(TextId::ConfirmWrite));
    EXPECT_EQ(win.w->pendingTask(), kTaskIdle);

    // Answered Yes while the read runs: its tick falls due inside the read's exchanges.
    win.answer = true;
    bool clicked = false;
    win.com->onSend = [&] {
        if (!std::exchange(clicked, true))
            win.writeButton()->click();
    };
    win.readButton()->click();
    win.w->onDispatcherTick();
    win.w->onDispatcherTick();
    EXPECT_EQ(win.com->log, (QStringList{"R 0001", "R 0002"}));
    EXPECT_EQ(win.w->pendingTask(), kTaskIdle);
}

// An item failure replaces the model name for a while; further failures do not restart
// the while, and a failed apply after one keeps its own message.
TEST(MainWindow, FailureDisplayReturnsToTheModelName) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.modelName = QStringLiteral("PMX-31570A");
        std::fill_n(t.selections.begin(), 24, Selection::Selected);
    });
    for (int i = 0; i < 24; ++i)
        win.com->faults[i] = "nak";
    w.setFailureDisplayTime(150); // the rule, not the length, is tested
    QStringList seen;             // the label as each exchange starts
    win.com->onSend = [&] {
        seen << win.modelLabel()->text();
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
    w.endFailureDisplay();
    EXPECT_EQ(win.modelLabel()->text(), QStringLiteral("PMX-31570A"));

    win.com->onSend = nullptr;
    w.setFailureDisplayTime(600000); // still on show when the read ends, however slow
    w.postTask(kTaskReadAll);
    w.onDispatcherTick();
    ASSERT_TRUE(w.failureOnShow());
    win.com->openOk = false;
    w.postTask(kTaskApply);
    w.onDispatcherTick();
    EXPECT_FALSE(w.failureOnShow());
    EXPECT_EQ(win.modelLabel()->text(), strings::text(TextId::CommunicationError));
}

TEST(MainWindow, CloseQuestionNoKeepsRunningYesSaves) {
    Window win;
    win.edit([](ItemTable& t) {
        t.modelName = QStringLiteral("PMX-31570A");
        t.values[127] = -32768;
    });
    win.answer = false;
    EXPECT_FALSE(win.w->close());
    EXPECT_TRUE(win.w->isVisible());
    EXPECT_EQ(win.asked.value(win.asked.size() - 1), strings::text(TextId::ConfirmClose));
    EXPECT_FALSE(QFile::exists(win.path("PMX31570A.ini")));

    win.answer = true;
    EXPECT_TRUE(win.w->close());
    // The next start loads it.
    Window again(false, strings::Lang::English, [&](const QString& home) {
        QFile::copy(win.path("PMX31570A.ini"), home + QStringLiteral("/PMX31570A.ini"));
    });
    EXPECT_EQ(again.w->items().values[127], -32768);
    EXPECT_EQ(again.modelLabel()->text(), QStringLiteral("PMX-31570A"));
}

// A directory in the way makes the save fail: close? Yes; close without saving? No, its
// default answer, so that two Enters do not lose the table.
TEST(MainWindow, SaveFailureAtCloseKeepsTheWindowByDefaultInItsLanguage) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Window win(true, lang);
        ASSERT_TRUE(QDir(win.home.path()).mkdir(QStringLiteral("PMX31570A.ini")));
        win.answers = {true, false};
        EXPECT_FALSE(win.w->close());
        EXPECT_TRUE(win.w->isVisible());
        ASSERT_FALSE(win.asked.isEmpty());
        ASSERT_EQ(win.askedDefaultNo, QStringList{win.asked.last()});
        const QString question = win.asked.last();
        EXPECT_EQ(question.count(QDir::toNativeSeparators(win.path("PMX31570A.ini"))), 1);
        // The reason is one of ours, in the window's language.
        const QString created = strings::text(TextId::FileNotCreated);
        EXPECT_TRUE(question.contains(created.left(created.indexOf(u'%'))))
            << question.toStdString();
    }
}

TEST(MainWindow, AStateFileThatWasNotLoadedIsToldOnceAndKeptBeforeTheSave) {
    ItemTable kept;
    kept.modelName = QStringLiteral("Kept");
    const QByteArray good = writeTableFile(kept).value();
    const struct {
        const char* what;
        QByteArray bytes;
        bool loads;
    } cases[] = {{"junk after the fields", good + QByteArray(5 * 1024 * 1024, '\xA5'), true},
                 {"cut short", good.left(good.indexOf("\r\n\"\"\r\n0\r\n")), false},
                 {"a bad value", good.left(good.size() - 3) + "x\r\n", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Window win(false, strings::Lang::English, [&](const QString& home) {
            QFile f(home + QStringLiteral("/PMX31570A.ini"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(c.bytes) == c.bytes.size());
        });
        EXPECT_EQ(win.w->items().modelName, QStringLiteral("Kept"));
        ASSERT_EQ(win.errors.size(), c.loads ? 0 : 1);
        if (!c.loads) {
            EXPECT_TRUE(win.errors[0].contains(QStringLiteral("PMX31570A.ini.bak")));
        }
        win.answer = true;
        EXPECT_TRUE(win.w->close());
        EXPECT_EQ(win.errors.size(), c.loads ? 0 : 1) << "said once";
        EXPECT_EQ(QFile::exists(win.path("PMX31570A.ini.bak")), !c.loads);
        if (!c.loads) {
            EXPECT_EQ(win.read("PMX31570A.ini.bak"), c.bytes);
        }
        EXPECT_TRUE(win.read("PMX31570A.ini").startsWith("\"Kept\"\r\n"));
    }
}

namespace {

// The value cells as shown, and as the page, the DEC/HEX choice and the table want them.
std::pair<std::string, std::string> cells(const Window& win) {
    QStringList shown, due;
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = win.w->currentPage() * kRowsPerPage + r;
        const ItemTable& t = win.w->items();
        shown << win.valueCell(r)->text();
        due << (t.isSelected(i) ? win.w->formatValue(t.values[i]) : QString("------"));
    }
    return {shown.join('|').toStdString(), due.join('|').toStdString()};
}

} // namespace

TEST(MainWindow, ValueCellsFollowEveryChangeWhileCommunicationIsStopped) {
    Window win(false);
    win.com->openOk = false;
    win.start();
    win.edit([](ItemTable& t) {
        for (int i = 0; i < kItemCount; ++i)
            t.values[i] = qint16(1000 + i);
        t.selections[33] = Selection::Selected;
        t.selections[34] = Selection::Selected;
    });
    win.nextFile = win.path("other.dat"); // saved with item 34 selected, loaded without
    win.saveButton()->click();
    win.edit([](ItemTable& t) { t.selections[34] = Selection::Cleared; });
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"tab", [&] { win.tabs()->setCurrentIndex(1); }},
        {"HEX", [&] { win.hexButton()->setChecked(true); }},
        {"data file", [&] { win.loadButton()->click(); }},
        {"value pad",
         [&] {
             win.w->editValue(1);
             win.w->valueDialog()->pressDigit(7);
             win.w->valueDialog()->storeValue();
         }},
    };
    for (const auto& [change, make] : changes) {
        const std::string before = cells(win).first;
        make();
        const auto [shown, due] = cells(win);
        EXPECT_EQ(shown, due) << change;
        EXPECT_NE(shown, before) << change;
    }
}

// The object names are an interface for tests and accessibility tools: every name the
// architecture page lists for these windows is found in them.
TEST(MainWindow, EveryDocumentedObjectNameIsThere) {
    QFile page(QStringLiteral(PMX_SOURCE_DIR "/docs/architecture.md"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly | QIODevice::Text));
    Window win;
    MainWindow& w = *win.w;
    win.openEveryDialog();
    const QHash<QString, QWidget*> windows{{"main", &w},
                                           {"monitor", w.monitorWindow()},
                                           {"conditions", w.conditionsDialog()},
                                           {"item selection", w.selectionDialog()},
                                           {"value", w.valueDialog()},
                                           {"version", w.aboutDialog()},
                                           {"comparison", w.compareDialog()}};
    const QRegularExpression quoted(QStringLiteral("`(\\w+)`"));
    int checked = 0;
    for (const QString& line : QString::fromUtf8(page.readAll()).split(u'\n')) {
        const QStringList cells = line.split(u'|');
        QWidget* const window = cells.size() > 3 ? windows.value(cells[1].trimmed()) : nullptr;
        if (!window)
            continue;
        for (auto names = quoted.globalMatch(cells[2]); names.hasNext(); ++checked) {
            QString name = names.next().captured(1);
            if (name.endsWith(QLatin1String("_N")))
                name.replace(name.size() - 1, 1, u'0'); // rows and pairs: the first
            EXPECT_TRUE(window->findChild<QObject*>(name))
                << cells[1].trimmed().toStdString() << ": " << name.toStdString();
        }
    }
    EXPECT_GT(checked, 80) << "the table was read";
}

TEST(MainWindow, StatusFrameShowsTheConditionsInEffectAfterOk) {
    Window win;
    const auto typeAndStore = [&](const char* protocol) {
        ConditionsDialog* dlg = win.w->conditionsDialog();
        for (const auto& [combo, typed] : {std::pair{"Combo_Prot", protocol},
                                           {"Combo_Dev", "96"},
                                           {"Combo_Rate", "115200"},
                                           {"Combo_Dat", "9 bit"},
                                           {"Combo_Party", "ODD"},
                                           {"Combo_Time", "250"}})
            child<QComboBox>(dlg, combo)->setEditText(typed);
        dlg->storeConditions();
        QCoreApplication::processEvents();
        win.w->onDispatcherTick();
    };
    typeAndStore("KORVAN");
    EXPECT_EQ(win.statusFrame(), "KORVAN|0|9600|7 bit|1 bit|ODD|COM1|250");
    // Under Modbus the instrument number's fallback would be the broadcast address.
    typeAndStore("Modbus RTU");
    EXPECT_EQ(win.statusFrame(), "|||||||");
    EXPECT_EQ(win.portLabel()->text(), "Instrument number \"96\" is out of range.");
}

TEST(MainMenus, ExportAppendsToTheChosenCsv) {
    Window win(false);
    win.edit([](ItemTable& t) {
        t.names.fill("X----");
        t.names[0] = "P0";
        t.values[0] = -5;
    });
    win.nextFile = win.path("list.csv");
    auto* summary = child<QLabel>(win.w.get(), "Label_summary");
    win.action("menu_export")->trigger();
    EXPECT_TRUE(win.appendChosen); // never "replace?" for a file the rows are added to
    EXPECT_TRUE(win.lastFile.dir.endsWith("/csvdata"));
    const QString shown = QDir::toNativeSeparators(win.nextFile);
    EXPECT_EQ(summary->text(), "1 items written to the new file " + shown);
    win.hexButton()->setChecked(true);
    win.action("menu_export")->trigger();
    EXPECT_EQ(summary->text(), "1 items appended to " + shown); // on the line, never in a box
    EXPECT_TRUE(win.errors.isEmpty() && win.asked.isEmpty());
    const QByteArray bytes = win.read("list.csv"); // a block's bytes are the CSV writer's tests'
    EXPECT_LT(bytes.indexOf("\"P0\",-5\r\n"), bytes.indexOf("\"P0\",\"FFFBh\"\r\n"));
    win.nextFile = win.path("missing/list.csv");
    win.action("menu_export")->trigger();
    EXPECT_EQ(win.errors.size(), 1);
    EXPECT_EQ(summary->text(), "1 items appended to " + shown) << "nothing told for the failure";
}

TEST(MainWindow, OptionsFoundInTheRecordsSectionMoveToTheirOwnAtTheFirstStart) {
    const auto beforeStart = [](const QString&) {
        QSettingsStore store;
        store.remove(cond::kOptionsSection, cond::kVerifyAfterWrite);
        store.remove(cond::kOptionsSection, cond::kBlockRead);
        store.setValue(cond::kSection, cond::kVerifyAfterWrite, "1");
        store.setValue(cond::kSection, cond::kBlockRead, "1");
    };
    Window win(true, strings::Lang::English, beforeStart);
    QSettingsStore store;
    EXPECT_TRUE(child<QCheckBox>(win.w.get(), "Check_verify")->isChecked());
    EXPECT_EQ(store.value(cond::kOptionsSection, cond::kVerifyAfterWrite, {}), "1");
    EXPECT_EQ(store.value(cond::kOptionsSection, cond::kBlockRead, {}), "1");
    QSettings file(store.fileName(), QSettings::IniFormat);
    file.beginGroup(cond::kSection);
    QStringList keys = file.childKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"Databit", "DevNo", "Party", "Port", "Protocol", "Speed",
                                 "Stopbit", "Timout"}));
    child<QCheckBox>(win.w.get(), "Check_verify")->click(); // stored in its own section only
    EXPECT_EQ(store.value(cond::kOptionsSection, cond::kVerifyAfterWrite, {}), "0");
    EXPECT_FALSE(store.contains(cond::kSection, cond::kVerifyAfterWrite));
    store.remove(cond::kOptionsSection, cond::kBlockRead);
}

TEST(MainWindow, TitleMarksATableChangedSinceItWasReadLoadedOrSaved) {
    Window win;
    MainWindow& w = *win.w;
    EXPECT_FALSE(w.isWindowModified());
    win.selectBox(1)->click();
    EXPECT_TRUE(w.isWindowModified());
    win.selectBox(1)->click(); // as it was
    EXPECT_FALSE(w.isWindowModified());
    win.selectBox(2)->click();
    w.postTask(kTaskReadAll);
    w.onDispatcherTick();
    EXPECT_EQ(w.items().values[2], 20);
    EXPECT_FALSE(w.isWindowModified()) << "as read";
    w.editValue(2);
    w.valueDialog()->pressDigit(5);
    w.valueDialog()->storeValue();
    EXPECT_TRUE(w.isWindowModified());
    win.nextFile = win.path("table.dat");
    w.saveDataFile();
    EXPECT_FALSE(w.isWindowModified()) << "as saved";
    win.edit([](ItemTable& t) { t.names[9] = "renamed"; });
    EXPECT_TRUE(w.isWindowModified());
    w.loadDataFile();
    EXPECT_FALSE(w.isWindowModified()) << "as loaded";
    EXPECT_EQ(w.items().values[2], 5);
}

TEST(MainWindow, FirstStartSaysHowToBeginAndFileDialogsRememberTheirFolders) {
    // An installation's models folder among the system's data folders.
    QTemporaryDir data;
    const QString models = data.filePath("pmx31570a/models");
    ASSERT_TRUE(QDir().mkpath(models));
    ASSERT_TRUE(QFile::copy(PMX_TEST_DATA_DIR "/model-pmx31570a.txt", models + "/model.txt"));
    const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", data.path().toUtf8());

    Window win;
    MainWindow& w = *win.w;
    auto* hint = child<QLabel>(&w, "Label_start");
    EXPECT_FALSE(hint->isHidden());
    EXPECT_TRUE(hint->text().contains("Setting > Unit selection")) << hint->text().toStdString();

    // The first time each dialog starts where its files belong; the application folder
    // has no model, so Unit selection offers the installed ones.
    const std::tuple<std::function<void()>, MainWindow::FileKind, QString> kinds[] = {
        {[&w] { w.chooseModel(); }, MainWindow::FileKind::Model, models},
        {[&w] { w.loadDataFile(); }, MainWindow::FileKind::Data, win.home.path()},
        {[&w] { w.exportCsv(); }, MainWindow::FileKind::Csv, win.path("csvdata")},
    };
    for (const auto& [choose, kind, first] : kinds) {
        win.nextFile.clear(); // cancelled: nothing remembered
        choose();
        EXPECT_EQ(QDir::cleanPath(win.lastFile.dir), QDir::cleanPath(first));
        EXPECT_EQ(w.startFolder(kind), first);
    }
    // Chosen once, a folder is where the next dialog of that kind starts.
    win.nextFile = models + "/model.txt";
    w.chooseModel();
    EXPECT_TRUE(hint->isHidden()) << "a model is loaded";
    const QString elsewhere = win.path("elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    win.nextFile = elsewhere + "/table.dat";
    w.saveDataFile();
    win.nextFile.clear();
    w.loadDataFile();
    EXPECT_EQ(win.lastFile.dir, elsewhere);
    w.exportCsv();
    EXPECT_EQ(QDir::cleanPath(win.lastFile.dir), QDir::cleanPath(win.path("csvdata")));
    w.chooseModel();
    EXPECT_EQ(win.lastFile.dir, models);
    // A model beside the program is offered there, once nothing is remembered.
    QSettingsStore().remove(cond::kOptionsSection, "ModelFolder");
    win.file("own-model.txt", "\"X\"\n");
    EXPECT_EQ(w.startFolder(MainWindow::FileKind::Model), win.home.path());

    qputenv("XDG_DATA_DIRS", dataDirs);
}
