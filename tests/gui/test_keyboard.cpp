// The keyboard: value cells that open the value dialog, Escape in every dialog, the
// shortcuts of the main window, the order of Tab and the access keys of each window.
#include "MainWindowFixture.h"
#include "ui/AboutDialog.h"
#include "ui/CompareDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/ValuePadDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace pmx;
using namespace pmx::test;

namespace {

void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The access key of a caption as Alt reaches it ("Alt+R"); empty for none.
QString accessKey(const QString& caption) {
    return QKeySequence::mnemonic(caption).toString();
}

// The access keys that Alt reaches in a window: its buttons, captions with a buddy and
// the titles on its menu bar. Menus are windows of their own.
QStringList windowKeys(QWidget* window) {
    QStringList keys;
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->window() == window)
            keys << accessKey(b->text());
    for (QLabel* l : window->findChildren<QLabel*>())
        if (l->buddy() && l->window() == window)
            keys << accessKey(l->text());
    if (auto* bar = window->findChild<QMenuBar*>())
        for (QAction* a : bar->actions())
            keys << accessKey(a->text());
    keys.removeAll(QString());
    return keys;
}

} // namespace

TEST(Keyboard, EnterF2AndSpaceOnAValueCellOpenTheDialogForItsRow) {
    Window win;
    MainWindow& w = *win.w;
    const struct {
        int page, row;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool opens;
    } cases[] = {
        {0, 0, Qt::Key_Return, Qt::NoModifier, true},
        {1, 5, Qt::Key_F2, Qt::NoModifier, true},
        {3, 31, Qt::Key_Space, Qt::NoModifier, true},
        {2, 16, Qt::Key_Enter, Qt::KeypadModifier, true},
        {0, 4, Qt::Key_A, Qt::NoModifier, false},
        {0, 4, Qt::Key_Return, Qt::ControlModifier, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page * kRowsPerPage + c.row);
        win.tabs()->setCurrentIndex(c.page);
        QTest::keyClick(win.valueCell(c.row), c.key, c.modifiers);
        ValuePadDialog* pad = w.valueDialog();
        ASSERT_EQ(pad != nullptr, c.opens);
        if (pad) {
            EXPECT_EQ(pad->item(), c.page * kRowsPerPage + c.row);
            pad->reject();
            settle();
        }
    }
}

TEST(Keyboard, EscapeIsCancelInEveryDialog) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) { t.selections[3] = Selection::Selected; });
    const ItemTable before = w.items();
    win.openEveryDialog();
    QTest::keyClicks(child<QLineEdit>(w.valueDialog(), "Disp_setdata"), "42");
    child<QCheckBox>(w.selectionDialog(), "Check1", 9)->click();
    QSignalSpy stored(w.conditionsDialog(), &ConditionsDialog::conditionsStored);
    child<QComboBox>(w.conditionsDialog(), "Combo_Dev")->setEditText(QStringLiteral("7"));

    const QList<QPointer<QWidget>> dialogs = {w.valueDialog(),      w.selectionDialog(),
                                              w.conditionsDialog(), w.aboutDialog(),
                                              w.monitorWindow(),    w.compareDialog()};
    for (const QPointer<QWidget>& dialog : dialogs) {
        ASSERT_TRUE(dialog);
        const std::string name = dialog->objectName().toStdString();
        ASSERT_TRUE(activate(dialog)) << name;
        QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog.data();
        QTest::keyClick(target, Qt::Key_Escape);
        settle();
        EXPECT_TRUE(!dialog || !dialog->isVisible()) << name;
    }
    // Nothing was stored: neither the typed value, nor the box, nor the conditions.
    EXPECT_EQ(w.items().values, before.values);
    EXPECT_EQ(w.items().selections, before.selections);
    EXPECT_EQ(stored.count(), 0);
    EXPECT_NE(w.pendingTask(), kTaskWriteChanged);
}

TEST(Keyboard, CtrlOAndCtrlSChooseADataFileCtrlQAsksToClose) {
    Window win;
    MainWindow& w = *win.w;
    ASSERT_TRUE(activate(&w));
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(win.lastFile.filter, QString::fromLatin1(strings::kDataFileFilter));
    EXPECT_TRUE(win.lastFile.suffix.isEmpty()) << "the open variant";
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(win.lastFile.suffix, QStringLiteral("dat"));

    win.answer = false;
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(win.asked.value(0), strings::text(TextId::ConfirmClose));
    EXPECT_TRUE(w.isVisible()) << "No keeps the window, as closing it does";
}

TEST(Keyboard, TabGoesThroughBoxesAndValuesAndPassesTheNamesBy) {
    Window win;
    MainWindow& w = *win.w;
    ASSERT_TRUE(activate(&w));
    win.tabs()->setFocus(Qt::TabFocusReason);
    QStringList visited;
    for (int k = 0; k < 2 * kRowsPerPage + 8; ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QStringList rows;
    for (int r = 0; r < kRowsPerPage; ++r)
        rows << QStringLiteral("Check_Command_%1").arg(r) << QStringLiteral("Data0_%1").arg(r);
    EXPECT_EQ(visited.mid(0, rows.size()), rows);
    const QStringList side = visited.mid(rows.size());
    for (const char* name : {"Option1_0", "Command_Move_0", "Command_Move_1", "Command_File_0",
                             "Command_File_1", "Check_write"})
        EXPECT_TRUE(side.contains(QLatin1String(name)))
            << name << " in " << side.join(' ').toStdString();
    EXPECT_TRUE(visited.filter(QStringLiteral("Text1_")).isEmpty());
}

TEST(Keyboard, MenusByTheirLettersNoWindowWithALetterTwice) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        SCOPED_TRACE(lang == strings::Lang::English ? "English" : "Japanese");
        Window win(true, lang);
        MainWindow& w = *win.w;
        win.openEveryDialog();
        for (QWidget* window :
             QList<QWidget*>{&w, w.valueDialog(), w.selectionDialog(), w.conditionsDialog(),
                             w.monitorWindow(), w.compareDialog()}) {
            ASSERT_TRUE(window);
            const QStringList keys = windowKeys(window);
            EXPECT_EQ(QStringList(keys).removeDuplicates(), 0)
                << window->objectName().toStdString() << ": " << keys.join(' ').toStdString();
        }
        for (QMenu* menu : w.findChildren<QMenu*>()) {
            QStringList keys;
            for (QAction* a : menu->actions())
                if (!a->isSeparator())
                    keys << accessKey(a->text());
            EXPECT_FALSE(keys.contains(QString())) << menu->objectName().toStdString();
            EXPECT_EQ(keys.removeDuplicates(), 0) << menu->objectName().toStdString();
        }
        w.valueDialog()->reject();
        settle();

        // File > End by its letters: Alt+F opens File, Q is End, which asks to close.
        win.answer = false;
        ASSERT_TRUE(activate(&w));
        QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_TRUE(popup);
        EXPECT_EQ(popup, w.findChild<QMenu*>(QStringLiteral("menu_file")));
        QTest::keyClick(popup, Qt::Key_Q);
        EXPECT_EQ(win.asked.value(0), strings::text(TextId::ConfirmClose));
        EXPECT_TRUE(w.isVisible());
    }
}
