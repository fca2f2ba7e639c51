// The windows as a screen reader reads them: through Qt's accessibility interfaces from
// each window down, in both languages. Every control of every window has a name it can
// say, without access letters or invisible characters; read-only fields say so; the item
// pages name their rows by the item; failures, outcomes and progress are announced.
//
// A new window or control is covered without a change here: every window the menus open
// is opened and walked. A control this test finds nameless needs a name as
// src/ui/Accessibility.h describes (a caption of its own or a buddy label, setCaption for
// captions with an access letter, nameComboBox for editable combo boxes, or
// QWidget::setAccessibleName).
#include "AccessibleTree.h"
#include "MainWindowFixture.h"
#include "comm/ExchangeRecord.h"
#include "model/HelpSource.h"
#include "ui/Accessibility.h"
#include "ui/FinderDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/Prompts.h"
#include "ui/ValuePadDialog.h"

#include <QAccessibleActionInterface>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

using namespace pmx;
using namespace pmx::test;

namespace {

QString noProgram(const QString&) {
    return {};
}

// What a window's announcer told, in order, and the labels it raised an alert on. (The
// accessibility events themselves go out only while assistive technology listens, which
// an offscreen test cannot; tools/a11y/atspi-audit.sh shows them arriving over AT-SPI.)
struct Heard {
    QStringList said;
    QStringList alerts; // "object name: its text" of the label that showed a failure
    explicit Heard(a11y::Announcer* announcer) {
        QObject::connect(announcer, &a11y::Announcer::said, announcer,
                         [this](const QString& text, a11y::Urgency urgency, QWidget* source) {
                             said << text;
                             if (urgency == a11y::Urgency::Failure && source)
                                 alerts << source->objectName() + QStringLiteral(": ") +
                                               source->property("text").toString();
                         });
    }
    void clear() {
        said.clear();
        alerts.clear();
    }
};

void triggerEveryCommand(const QList<QAction*>& actions) {
    for (QAction* a : actions) {
        if (a->menu())
            triggerEveryCommand(a->menu()->actions());
        else if (!a->isSeparator() && a->isEnabled() && !a->isCheckable())
            a->trigger();
    }
}

// Every window of the program open at once: each one the menus open (End is answered No,
// the file choices cancelled), the value dialog, a question and a file dialog.
void openEveryWindow(Window& win) {
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.modelName = QStringLiteral("PMX-31570A");
        for (int i = 0; i < kItemCount; ++i)
            t.names[i] = strings::text(TextId::CommandItem) + QString::number(i);
        std::fill_n(t.selections.begin(), 8, Selection::Selected);
    });
    w.setHelpFinder({[](const QString& path) { return path.startsWith(":/"); }, noProgram, {}});
    win.answer = false;
    triggerEveryCommand(w.menuBar()->actions());
    w.onDispatcherTick(); // the comparison
    w.editValue(3);
    QMessageBox* question = messageBox(QMessageBox::Question, strings::text(TextId::ConfirmRead),
                                       QMessageBox::Yes | QMessageBox::No, &w);
    question->setObjectName(QStringLiteral("question"));
    question->show();
    auto* files = new QFileDialog(&w);
    files->setObjectName(QStringLiteral("file dialog"));
    setUpFileDialog(*files, true, win.home.path(), QStringLiteral("x.dat"),
                    QString::fromLatin1(strings::kDataFileFilter), QStringLiteral("dat"), true);
    files->show();
}

// Why a node fails a screen reader, or nothing.
QString problemOf(const AccessibleNode& n) {
    for (const QString& said : {n.name, n.description, n.value}) {
        for (const QChar c : said) {
            if (c.category() == QChar::Other_Format)
                return QStringLiteral("an invisible character U+%1")
                    .arg(int(c.unicode()), 4, 16, QLatin1Char('0'));
        }
    }
    if (!isControl(n.role))
        return {};
    if (n.name.trimmed().isEmpty())
        return QStringLiteral("no name");
    static const QRegularExpression letter(QStringLiteral("&|\\([A-Za-z]\\)\\s*$"));
    if (letter.match(n.name).hasMatch())
        return QStringLiteral("an access letter in its name");
    if (n.role == QAccessible::EditableText && n.state.readOnly && n.state.editable)
        return QStringLiteral("read-only, yet told editable");
    return {};
}

QWidget* windowNamed(const QString& name) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->objectName() == name)
            return top;
    return nullptr;
}

QAccessibleInterface* accessible(QObject* o) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(o);
    if (!iface)
        throw std::runtime_error("no accessible interface");
    return iface;
}

bool labelledBy(QObject* field, QObject* caption) {
    for (const auto& [other, relation] : accessible(field)->relations(QAccessible::Label))
        if (other->object() == caption)
            return true;
    return false;
}

} // namespace

TEST(Accessibility, EveryControlOfEveryWindowIsNamedInBothLanguages) {
    const QStringList expected = {"MainDisp",     "SubDisp_comm",    "SubDisp_command",
                                  "Setting_Disp", "SubDisp_About",   "SubDisp_help",
                                  "rptver",       "SubDisp_compare", "SubDisp_monitor",
                                  "SubDisp_find", "question",        "file dialog"};
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Window win(true, lang);
        openEveryWindow(win);
        for (const QString& name : expected)
            EXPECT_TRUE(windowNamed(name)) << name.toStdString() << " is not open";
        QStringList problems;
        int windows = 0, controls = 0;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (!top->isVisible() || top->windowType() == Qt::Popup ||
                top->windowType() == Qt::ToolTip)
                continue;
            ++windows;
            for (const AccessibleNode& n : accessibleTree(top)) {
                controls += isControl(n.role) ? 1 : 0;
                const QString problem = problemOf(n);
                if (!problem.isEmpty())
                    problems << n.where + QStringLiteral(" \"") + n.name + QStringLiteral("\": ") +
                                    problem;
            }
        }
        EXPECT_GE(windows, expected.size());
        EXPECT_GT(controls, 350) << "the walk reached the controls";
        EXPECT_TRUE(problems.isEmpty())
            << (lang == strings::Lang::English ? "English" : "Japanese") << ", " << problems.size()
            << " controls a screen reader cannot name well (see "
            << "src/ui/Accessibility.h):\n"
            << problems.join(u'\n').toStdString();
    }
}

TEST(Accessibility, PageRowsAreReadAsTheirItemsAndTheirCellsAsReadOnly) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Window win(true, lang);
        MainWindow& w = *win.w;
        win.edit([](ItemTable& t) {
            for (int i = 0; i < kItemCount; ++i)
                t.names[i] = QStringLiteral("Alarm %1 set value").arg(i);
            t.names[0x45].clear(); // an item without a name is read by its address
            t.selections.fill(Selection::Selected);
            t.values[0x10] = 1599;
        });
        const struct {
            int item;
            QString name;
        } rows[] = {{0x10, "0010 Alarm 16 set value"},
                    {0x1F, "001F Alarm 31 set value"},
                    {0x45, "0045"},
                    {0x7F, "007F Alarm 127 set value"}};
        for (const auto& [item, name] : rows) {
            win.tabs()->setCurrentIndex(item / kRowsPerPage);
            const int row = item % kRowsPerPage;
            QLineEdit* cell = win.valueCell(row);
            QAccessibleInterface* value = accessible(cell);
            EXPECT_EQ(value->text(QAccessible::Name), name);
            EXPECT_EQ(value->text(QAccessible::Value), cell->text());
            ASSERT_TRUE(value->textInterface());
            EXPECT_EQ(value->textInterface()->text(0, -1), cell->text());
            EXPECT_TRUE(value->state().readOnly && !value->state().editable);
            EXPECT_EQ(value->text(QAccessible::Description), strings::text(TextId::ValueCellHint));
            EXPECT_EQ(accessible(win.selectBox(row))->text(QAccessible::Name), name);
            QAccessibleInterface* nameCell = accessible(child<QLineEdit>(&w, "Text1", row));
            EXPECT_EQ(nameCell->text(QAccessible::Name),
                      strings::text(TextId::NameOfItem).arg(itemAddressText(item)));
            EXPECT_EQ(nameCell->text(QAccessible::Value), w.items().names[item]);
            EXPECT_TRUE(nameCell->state().readOnly && !nameCell->state().editable);
        }
        win.tabs()->setCurrentIndex(0);
        EXPECT_EQ(accessible(win.valueCell(0x10))->text(QAccessible::Value), "1599");

        // A screen reader's press on a value cell opens the value dialog for its item; the
        // dialog's entry is named after the item, its fields by their captions.
        QAccessibleActionInterface* actions = accessible(win.valueCell(0x10))->actionInterface();
        ASSERT_TRUE(actions);
        ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        ValuePadDialog* pad = w.valueDialog();
        ASSERT_TRUE(pad);
        EXPECT_EQ(pad->item(), 0x10);
        QAccessibleInterface* entry = accessible(child<QLineEdit>(pad, "Disp_setdata"));
        EXPECT_EQ(entry->text(QAccessible::Name),
                  strings::text(TextId::NewValueOf).arg("0010 Alarm 16 set value"));
        EXPECT_TRUE(entry->state().editable && !entry->state().readOnly)
            << "the operator types into it";
        EXPECT_EQ(accessible(child<QLineEdit>(pad, "Text1_1"))->text(QAccessible::Name),
                  strings::text(TextId::CommandItem));
        EXPECT_TRUE(labelledBy(child<QLineEdit>(pad, "Text1_1"), child<QLabel>(pad, "Label1_2")));
        EXPECT_TRUE(labelledBy(child<QLabel>(pad, "Now_data"), child<QLabel>(pad, "Label1_0")));
    }
}

TEST(Accessibility, AFailedReadIsAnnouncedOnceAndStaysInTheTree) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        for (int i = 0; i < kItemCount; ++i)
            t.names[i] = QStringLiteral("Item %1").arg(i);
        std::fill_n(t.selections.begin(), 8, Selection::Selected);
    });
    win.com->faults[2] = "nak";
    win.com->faults[5] = "nak";
    a11y::Announcer* announcer = a11y::announcerOf(&w);
    // The whole read at one instant: the second refusal repeats the first within any time.
    announcer->setClock([] { return qint64(0); });
    Heard heard(announcer);
    w.requestRead();
    w.onDispatcherTick();

    auto* model = child<QLabel>(&w, "Label_Modelname");
    auto* summary = child<QLabel>(&w, "Label_summary");
    ASSERT_TRUE(w.failureOnShow());
    const QString failure = model->text();
    EXPECT_EQ(heard.said, (QStringList{failure, summary->text()}));
    EXPECT_EQ(heard.alerts,
              (QStringList{"Label_Modelname: " + failure, "Label_summary: " + summary->text()}));
    EXPECT_TRUE(summary->text().contains("0002h")) << summary->text().toStdString();

    // The label returns to the model name; the tree keeps what was said, each message in a
    // notification of its own (a screen reader that comes late reads what was said then).
    w.endFailureDisplay();
    EXPECT_NE(model->text(), failure);
    QStringList notifications;
    for (const AccessibleNode& n : accessibleTree(&w))
        if (n.role == QAccessible::Notification && !n.state.invisible)
            notifications << n.name;
    EXPECT_EQ(notifications, (QStringList{failure, summary->text()}));
    // The failed items' value cells say so, as their red ground does.
    for (int row = 0; row < 8; ++row) {
        const bool failed = row == 2 || row == 5;
        EXPECT_EQ(accessible(win.valueCell(row))
                      ->text(QAccessible::Description)
                      .startsWith(strings::text(TextId::ItemFailedLastTime)),
                  failed)
            << row;
    }
    // The model name is no message: drawing another page tells nothing.
    heard.clear();
    win.tabs()->setCurrentIndex(1);
    EXPECT_TRUE(heard.said.isEmpty());
}

TEST(Accessibility, AnnouncementsComeAtAPaceAListenerCanFollow) {
    QWidget window;
    window.show();
    qint64 now = 0;
    a11y::Announcer* a = a11y::announcerOf(&window);
    a->setClock([&now] { return now; });
    Heard heard(a);
    using U = a11y::Urgency;
    // At a time, a message and how it is told: what is said, or nothing.
    const struct {
        qint64 at;
        const char* text;
        U urgency;
        const char* said;
    } steps[] = {
        {0, "Try 1 of 90", U::Progress, "Try 1 of 90"},
        {1000, "Try 2 of 90", U::Progress, ""}, // held back
        {4999, "Try 9 of 90", U::Progress, ""},
        {5000, "Try 10 of 90", U::Progress, "Try 10 of 90"},
        {5100, "Nothing found", U::Outcome, "Nothing found"}, // at once, progress or not
        {5200, "Nothing found", U::Outcome, ""},              // said already
        {5300, "No answer", U::Failure, "No answer"},
        {5400, "Nothing found", U::Outcome, ""},
        {5500, "No answer", U::Failure, ""},
        {10300, "No answer", U::Failure, "No answer"}, // long enough ago to say again
        {10400, "No answer\nPort closed", U::Outcome, "Port closed"}, // the new line only
        {10500, "a/\u200Bpath", U::Outcome, "a/path"},                // without break points
    };
    for (const auto& s : steps) {
        now = s.at;
        heard.clear();
        a->say(QString::fromUtf8(s.text), s.urgency, &window);
        EXPECT_EQ(heard.said, *s.said ? QStringList{QString::fromUtf8(s.said)} : QStringList{})
            << s.at << " " << s.text;
    }
    EXPECT_EQ(a->lastSaid(), "a/path");
    // A hidden window's messages are kept, not told.
    window.hide();
    heard.clear();
    now = 20000;
    a->say(QStringLiteral("Unseen"), U::Outcome, &window);
    EXPECT_TRUE(heard.said.isEmpty());
    EXPECT_EQ(a->lastSaid(), "Unseen");
}

TEST(Accessibility, TheSearchAndTheMonitorTellTheirProgress) {
    qint64 now = 0;
    const auto clock = [&now] { return now; };

    FinderDialog finder(FinderSetup{{}, QStringLiteral("/dev/ttyUSB0"), {}});
    finder.show();
    a11y::announcerOf(&finder)->setClock(clock);
    Heard search(a11y::announcerOf(&finder));
    const FinderPlan plan(finder.options());
    finder.scanStarted(plan);
    ProbeTarget target;
    target.port = QStringLiteral("/dev/serial/by-id/usb-Maker_A-if00-port0");
    for (int n = 1; n <= 12; ++n) {
        now = n * 1000;
        finder.tryStarting(n, 12, target);
    }
    FinderResult result;
    result.tries = 12;
    finder.scanEnded(result);
    ASSERT_EQ(search.said.size(), 4) << search.said.join('|').toStdString();
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(search.said[k].startsWith(
            strings::text(TextId::FinderProgress).arg(1 + 5 * k).arg(12).arg(QString())))
            << search.said[k].toStdString();
    EXPECT_EQ(search.said[3], strings::text(TextId::FinderNothingFound).arg(12));
    EXPECT_TRUE(search.said[0].contains(target.port)) << "the path whole, without break points";

    ExchangeLog log;
    MonitorWindow monitor(log, {}, {}, {});
    monitor.show();
    a11y::announcerOf(&monitor)->setClock(clock);
    Heard counters(a11y::announcerOf(&monitor));
    for (int k = 1; k <= 3; ++k) {
        now = 100000 + k * 3000; // every 3 s: the second change waits
        ExchangeRecord r;
        r.outcome = k == 2 ? ExchangeOutcome::NoAnswer : ExchangeOutcome::Good;
        log.exchanged(r);
        monitor.refresh();
    }
    monitor.refresh(); // nothing new: nothing said
    ASSERT_EQ(counters.said.size(), 2);
    EXPECT_EQ(counters.said.constLast(), monitor.countersText());
}
