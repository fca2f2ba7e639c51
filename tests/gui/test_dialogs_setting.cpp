// The value dialog: its buttons and keys feed the value pad (whose rules are tested on
// their own), and only OK or Enter with a storable entry changes the table.
#include "ui/Setting_Disp.h"
#include "ui/strings/StringTable.h"
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

// Presses pad buttons: digits, '~' for "+/-", 'C' for "CE".
void pad(QWidget* dlg, const char* keys) {
    for (const char* k = keys; *k; ++k) {
        QString name = *k == '~'   ? QStringLiteral("Command1")
                       : *k == 'C' ? QStringLiteral("Command2")
                                   : QStringLiteral("Ten_key_%1").arg(*k - '0');
        auto* b = dlg->findChild<QPushButton*>(name);
        ASSERT_NE(b, nullptr) << name.toStdString();
        b->click();
    }
}

void type(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &press);
}

void typeText(QWidget* target, const char* s) {
    for (const char* c = s; *c; ++c)
        type(target, Qt::Key_unknown, QString(QLatin1Char(*c)));
}

struct SettingDisp : ::testing::Test {
    ItemTable t;
    QPointer<Setting_Disp> dlg;
    int stored = 0;

    void SetUp() override {
        for (int i = 0; i < kItemCount; ++i) {
            t.ItemName[i] = QStringLiteral("Item %1").arg(i);
            t.ItemData[i] = qint16(i * 10);
        }
        t.CurItem = 37;
        dlg = new Setting_Disp(t);
        dlg->setItem(37);
        QObject::connect(dlg.data(), &Setting_Disp::valueStored, [this] { ++stored; });
        dlg->show();
    }
    void TearDown() override {
        delete dlg.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    bool gone() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dlg.isNull();
    }
    QLineEdit* entry() { return dlg->findChild<QLineEdit*>(QStringLiteral("Disp_setdata")); }
    void click(const char* name) {
        dlg->findChild<QPushButton*>(QString::fromLatin1(name))->click();
    }
};

} // namespace

TEST_F(SettingDisp, ShowsItemAndRefillsKeepingEntry) {
    auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("Text1_1"));
    auto* now = dlg->findChild<QLabel*>(QStringLiteral("Now_data"));
    EXPECT_EQ(name->text(), QStringLiteral("Item 37"));
    EXPECT_EQ(now->text(), QStringLiteral("370"));
    EXPECT_TRUE(entry()->text().isEmpty());
    EXPECT_EQ(dlg->focusWidget(), entry());

    pad(dlg, "12~");
    EXPECT_EQ(dlg->findChild<QLabel*>(QStringLiteral("change_data"))->text(), "-12");
    t.ItemData[3] = -5;
    dlg->setItem(3);
    EXPECT_EQ(name->text(), QStringLiteral("Item 3"));
    EXPECT_EQ(now->text(), QStringLiteral("-5"));
    EXPECT_EQ(entry()->text(), QStringLiteral("-12"));

    // Editing the name box changes nothing in the table.
    name->setText(QStringLiteral("edited"));
    dlg->setItem(200); // ignored
    EXPECT_EQ(dlg->item(), 3);
    EXPECT_EQ(t.ItemName[3], QStringLiteral("Item 3"));
}

TEST_F(SettingDisp, TypedKeysGoThroughThePad) {
    pad(dlg, "C123456789");
    EXPECT_EQ(entry()->text(), QStringLiteral(" 12345678"));
    typeText(entry(), "9x");
    EXPECT_EQ(entry()->text(), QStringLiteral(" 123456789")) << "typing is not pad-limited";
    type(entry(), Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_TRUE(entry()->text().isEmpty()) << "Backspace clears the whole entry";
    typeText(entry(), "8");
    entry()->setText(QStringLiteral("garbage")); // a stray change is undone by the next key
    type(entry(), Qt::Key_Left);
    EXPECT_EQ(entry()->text(), QStringLiteral(" 8"));
    type(entry(), Qt::Key_Escape, QStringLiteral("\x1b"));
    EXPECT_FALSE(gone()) << "other keys only re-show the entry";

    type(entry(), Qt::Key_Backspace, QStringLiteral("\b"));
    typeText(entry(), "-250-"); // "-" first only makes zero
    type(entry(), Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(t.ItemData[37], -250);
    EXPECT_EQ(stored, 1);
    EXPECT_TRUE(gone());
}

TEST_F(SettingDisp, OkOnEmptyEntryStoresZeroForTheCurrentItem) {
    dlg->setItem(0);
    click("Command3");
    EXPECT_EQ(t.ItemData[0], 0);
    EXPECT_EQ(t.ItemData[37], 370);
    EXPECT_EQ(t.CurItem, 0) << "the item sent afterwards is the one stored";
    EXPECT_EQ(stored, 1);
    EXPECT_TRUE(gone());
}

TEST_F(SettingDisp, OutOfRangeIsRefusedAndMarked) {
    pad(dlg, "32768");
    click("Command3");
    EXPECT_FALSE(gone()) << "dialog stays open";
    EXPECT_EQ(stored, 0);
    EXPECT_EQ(t.ItemData[37], 370);
    EXPECT_FALSE(entry()->toolTip().isEmpty());
    EXPECT_EQ(entry()->palette().color(QPalette::Text), QColor(Qt::red));

    // Making it fit clears the mark and stores.
    pad(dlg, "~");
    EXPECT_TRUE(entry()->toolTip().isEmpty());
    EXPECT_NE(entry()->palette().color(QPalette::Text), QColor(Qt::red));
    click("Command3");
    EXPECT_EQ(t.ItemData[37], -32768);
    EXPECT_TRUE(gone());
}

TEST_F(SettingDisp, CancelAndCloseStoreNothing) {
    pad(dlg, "99");
    click("Command4");
    EXPECT_TRUE(gone());
    dlg = new Setting_Disp(t);
    dlg->show();
    pad(dlg, "5");
    dlg->close();
    EXPECT_TRUE(gone());
    EXPECT_EQ(t.ItemData[37], 370);
    EXPECT_EQ(stored, 0);
}
