// The selection dialog: a second copy of the selections, reset from the table whenever it
// is shown or the operator comes back to it from the program's own window.
#include "ui/SubDisp_command.h"
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QWindow>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

// Hang guard only: the condition normally holds after one pass of the event loop.
template <class F> bool settle(F cond) {
    QDeadlineTimer guard(20000);
    while (!cond() && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return cond();
}

bool waitActive(QWidget* w) {
    return settle([w] { return w->isActiveWindow(); });
}

void key(QWidget* w, int k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

ItemTable makeTable() {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i)
        t.ItemName[i] = QStringLiteral("Item %1").arg(i);
    return t;
}

QCheckBox* box(QWidget* dlg, int i) {
    return dlg->findChild<QCheckBox*>(QStringLiteral("Check1_%1").arg(i));
}

void click(QWidget* dlg, const char* name) {
    auto* b = dlg->findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

} // namespace

TEST(SubDispCommand, LoadTakesSelectionOfDefinedItemsOnly) {
    ItemTable t = makeTable();
    t.ItemSel[5] = 1;
    t.ItemSel[6] = 2; // only 1 means selected
    t.ItemName[9] = QStringLiteral("Spare ----");
    t.ItemSel[9] = 1;
    auto* dlg = new SubDisp_command(t);

    for (int i = 0; i < kItemCount; ++i)
        ASSERT_EQ(box(dlg, i)->toolTip(), t.ItemName[i]) << i;
    EXPECT_TRUE(box(dlg, 5)->isChecked());
    EXPECT_FALSE(box(dlg, 6)->isChecked());
    EXPECT_TRUE(box(dlg, 5)->isEnabled());
    // Undefined: disabled, and its state is not taken from ItemSel at load.
    EXPECT_FALSE(box(dlg, 9)->isEnabled());
    EXPECT_FALSE(dlg->boxTicked(9));
    EXPECT_FALSE(dlg->isVisible());
    dlg->setBox(3, 2); // only 1 ticks
    EXPECT_FALSE(dlg->boxTicked(3));
    // Out-of-range indexes are ignored rather than crashing.
    dlg->setBox(128, 1);
    dlg->setItemToolTip(-1, QString());
    EXPECT_FALSE(dlg->boxTicked(-1));
    delete dlg;
}

TEST(SubDispCommand, HiddenDialogKeepsBoxesUntilShown) {
    ItemTable t = makeTable();
    t.ItemName[68] = QStringLiteral("----");
    t.ItemSel[68] = 1;
    t.ItemSel[35] = 1;
    auto* dlg = new SubDisp_command(t);
    QPointer<SubDisp_command> guard(dlg);

    // Newly created for an undefined leading item: the write of all items must not see it.
    EXPECT_FALSE(dlg->boxTicked(68));
    EXPECT_TRUE(dlg->boxTicked(35));
    // A data file load cleared box 35; ticking it on the main window changes ItemSel only.
    dlg->setBox(35, 0);
    t.ItemSel[35] = 1;
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg->boxTicked(35));
    dlg->setItemToolTip(35, QStringLiteral("renamed"));
    EXPECT_EQ(box(dlg, 35)->toolTip(), QStringLiteral("renamed"));

    // Showing resets every box, disabled ones included, from the table.
    dlg->show();
    EXPECT_TRUE(dlg->boxTicked(35));
    EXPECT_TRUE(dlg->boxTicked(68));
    EXPECT_FALSE(box(dlg, 68)->isEnabled()) << "activation does not enable boxes";
    EXPECT_EQ(box(dlg, 35)->toolTip(), t.ItemName[35]);
    dlg->close();
    flushDeletes();
    EXPECT_TRUE(guard.isNull());
}

TEST(SubDispCommand, ReturnFromProgramWindowResetsButNotFromAnotherApplication) {
    ItemTable t = makeTable();
    t.ItemSel[5] = 1;
    QWidget main;
    main.setWindowTitle(QStringLiteral("main"));
    main.resize(200, 100);
    main.show();
    ASSERT_TRUE(waitActive(&main));

    auto* dlg = new SubDisp_command(t, &main);
    QPointer<SubDisp_command> guard(dlg);
    dlg->show();
    dlg->activateWindow();
    ASSERT_TRUE(waitActive(dlg));
    EXPECT_TRUE(dlg->boxTicked(5));

    // Changes are lost when the operator goes to the main window and back.
    box(dlg, 5)->click();
    box(dlg, 7)->click();
    ASSERT_FALSE(dlg->boxTicked(5));
    main.activateWindow();
    ASSERT_TRUE(waitActive(&main));
    EXPECT_FALSE(dlg->boxTicked(5)) << "leaving the dialog changes nothing";
    dlg->activateWindow();
    ASSERT_TRUE(waitActive(dlg));
    EXPECT_TRUE(dlg->boxTicked(5));
    EXPECT_FALSE(dlg->boxTicked(7));

    // Another application had the focus (this program had none): nothing is reset.
    box(dlg, 5)->click();
    QWindow* const own = dlg->windowHandle();
    emit qApp->focusWindowChanged(nullptr);
    emit qApp->focusWindowChanged(own);
    EXPECT_FALSE(dlg->boxTicked(5));

    // OK takes the boxes over, then the dialog is gone.
    int accepted = 0;
    QObject::connect(dlg, &QDialog::accepted, [&accepted] { ++accepted; });
    click(dlg, "Command1");
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(t.ItemSel[5], 0);
    flushDeletes();
    EXPECT_TRUE(guard.isNull());
}

TEST(SubDispCommand, OkCopiesEveryBoxIncludingDisabled) {
    ItemTable t = makeTable();
    t.ItemName[3] = QStringLiteral("Spare ----");
    t.ItemSel[3] = 1; // the state file had it selected
    t.ItemSel[10] = 1;
    t.ItemSel[127] = 2;
    auto* dlg = new SubDisp_command(t);
    QPointer<SubDisp_command> guard(dlg);
    dlg->setBox(3, t.ItemSel[3]);
    dlg->show();
    int accepted = 0;
    QObject::connect(dlg, &QDialog::accepted, [&accepted] { ++accepted; });
    box(dlg, 20)->click();
    click(dlg, "Command1");
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(t.ItemSel[3], 1) << "disabled box passes its checked state";
    EXPECT_EQ(t.ItemSel[10], 1);
    EXPECT_EQ(t.ItemSel[20], 1);
    EXPECT_EQ(t.ItemSel[127], 0) << "flags become plain 0/1";
    flushDeletes();
    EXPECT_TRUE(guard.isNull());
}

TEST(SubDispCommand, CancelAndEscapeChangeNothingAndDelete) {
    for (const bool viaEscape : {false, true}) {
        ItemTable t = makeTable();
        t.ItemSel[1] = 1;
        auto* dlg = new SubDisp_command(t);
        QPointer<SubDisp_command> guard(dlg);
        dlg->show();
        int accepted = 0;
        QObject::connect(dlg, &QDialog::accepted, [&accepted] { ++accepted; });
        box(dlg, 1)->click();
        box(dlg, 2)->click();
        if (viaEscape)
            key(dlg, Qt::Key_Escape);
        else
            click(dlg, "Command2");
        flushDeletes();
        EXPECT_TRUE(guard.isNull()) << viaEscape;
        EXPECT_EQ(accepted, 0);
        EXPECT_EQ(t.ItemSel[1], 1);
        EXPECT_EQ(t.ItemSel[2], 0);
    }
}
