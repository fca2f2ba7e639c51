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

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

ItemTable makeTable() {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i) {
        t.ItemName[i] = QStringLiteral("Item %1").arg(i);
        t.ItemData[i] = qint16(i * 10);
    }
    return t;
}

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

QLineEdit* entryBox(QWidget* dlg) {
    return dlg->findChild<QLineEdit*>(QStringLiteral("Disp_setdata"));
}

QString changeData(QWidget* dlg) {
    return dlg->findChild<QLabel*>(QStringLiteral("change_data"))->text();
}

struct Fixture : ::testing::Test {
    ItemTable t = makeTable();
    QPointer<Setting_Disp> dlg;
    int stored = 0;

    void SetUp() override {
        t.CurItem = 37;
        dlg = new Setting_Disp(t);
        dlg->setItem(37);
        QObject::connect(dlg.data(), &Setting_Disp::valueStored, [this] { ++stored; });
        dlg->show();
    }
    void TearDown() override {
        delete dlg.data();
        flushDeletes();
    }
    bool gone() {
        flushDeletes();
        return dlg.isNull();
    }
};

} // namespace

using SettingDisp = Fixture;

TEST_F(SettingDisp, ShowsItemAndRefillsKeepingEntry) {
    EXPECT_EQ(dlg->windowTitle(), strings::text(36));
    EXPECT_EQ(dlg->findChild<QLabel*>(QStringLiteral("Label1_2"))->text(), strings::text(39));
    EXPECT_EQ(dlg->findChild<QLabel*>(QStringLiteral("Label1_0"))->text(), strings::text(37));
    auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("Text1_1"));
    auto* now = dlg->findChild<QLabel*>(QStringLiteral("Now_data"));
    EXPECT_EQ(name->text(), QStringLiteral("Item 37"));
    EXPECT_EQ(now->text(), QStringLiteral("370"));
    EXPECT_TRUE(entryBox(dlg)->text().isEmpty());
    EXPECT_EQ(dlg->focusWidget(), entryBox(dlg));

    pad(dlg, "12");
    t.ItemData[3] = -5;
    dlg->setItem(3);
    EXPECT_EQ(name->text(), QStringLiteral("Item 3"));
    EXPECT_EQ(now->text(), QStringLiteral("-5"));
    EXPECT_EQ(entryBox(dlg)->text(), QStringLiteral(" 12"));

    // Editing the name box changes nothing in the table.
    name->setText(QStringLiteral("edited"));
    dlg->setItem(200); // ignored
    EXPECT_EQ(dlg->item(), 3);
    EXPECT_EQ(t.ItemName[3], QStringLiteral("Item 3"));
}

TEST_F(SettingDisp, PadRules) {
    pad(dlg, "12~3");
    EXPECT_EQ(entryBox(dlg)->text(), QStringLiteral("-123"));
    EXPECT_EQ(changeData(dlg), QStringLiteral("-123"));
    pad(dlg, "C~");
    EXPECT_TRUE(entryBox(dlg)->text().isEmpty()) << "+/- on an empty entry leaves it empty";
    pad(dlg, "007");
    EXPECT_EQ(entryBox(dlg)->text(), QStringLiteral(" 7"));
    pad(dlg, "C123456789");
    EXPECT_EQ(entryBox(dlg)->text(), QStringLiteral(" 12345678"));
    typeText(entryBox(dlg), "9");
    EXPECT_EQ(entryBox(dlg)->text(), QStringLiteral(" 123456789")) << "typing is not pad-limited";
}

TEST_F(SettingDisp, TypedKeys) {
    QLineEdit* box = entryBox(dlg);
    typeText(box, "-");
    EXPECT_EQ(box->text(), QStringLiteral(" 0"));
    typeText(box, "42x-");
    EXPECT_EQ(box->text(), QStringLiteral("-42")) << "letters are never inserted";
    type(box, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_TRUE(box->text().isEmpty()) << "Backspace clears the whole entry";
    typeText(box, "5.");
    EXPECT_TRUE(changeData(dlg).isEmpty());
    typeText(box, "8");
    box->setText(QStringLiteral("garbage")); // a stray change is undone by the next key
    type(box, Qt::Key_Left);
    EXPECT_EQ(box->text(), QStringLiteral(" 8"));
    type(box, Qt::Key_Escape, QStringLiteral("\x1b"));
    EXPECT_FALSE(gone()) << "other keys only re-show the entry";
}

TEST_F(SettingDisp, EnterIsOk) {
    typeText(entryBox(dlg), "-250-"); // "-" first only makes zero
    type(entryBox(dlg), Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(t.ItemData[37], -250);
    EXPECT_EQ(stored, 1);
    EXPECT_TRUE(gone());
}

TEST_F(SettingDisp, OkOnEmptyEntryStoresZeroForTheCurrentItem) {
    dlg->setItem(0);
    dlg->findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    EXPECT_EQ(t.ItemData[0], 0);
    EXPECT_EQ(t.ItemData[37], 370);
    EXPECT_EQ(t.CurItem, 0) << "the item sent afterwards is the one stored";
    EXPECT_EQ(stored, 1);
    EXPECT_TRUE(gone());
}

TEST_F(SettingDisp, OutOfRangeIsRefusedAndMarked) {
    pad(dlg, "32768");
    dlg->findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    EXPECT_FALSE(gone()) << "dialog stays open";
    EXPECT_EQ(stored, 0);
    EXPECT_EQ(t.ItemData[37], 370);
    EXPECT_FALSE(entryBox(dlg)->toolTip().isEmpty());
    EXPECT_EQ(entryBox(dlg)->palette().color(QPalette::Text), QColor(Qt::red));

    // Making it fit clears the mark and stores.
    pad(dlg, "~");
    EXPECT_TRUE(entryBox(dlg)->toolTip().isEmpty());
    EXPECT_NE(entryBox(dlg)->palette().color(QPalette::Text), QColor(Qt::red));
    dlg->findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    EXPECT_EQ(t.ItemData[37], -32768);
    EXPECT_TRUE(gone());
}

TEST_F(SettingDisp, CancelAndCloseStoreNothing) {
    pad(dlg, "99");
    dlg->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    EXPECT_TRUE(gone());
    EXPECT_EQ(t.ItemData[37], 370);
    EXPECT_EQ(stored, 0);

    dlg = new Setting_Disp(t);
    dlg->show();
    pad(dlg, "5");
    dlg->close();
    EXPECT_TRUE(gone());
    EXPECT_EQ(t.ItemData[37], 370);
}

TEST(SettingDispLook, EnglishAndJapanese) {
    ItemTable t = makeTable();
    t.ItemName[5] = QStringLiteral("Alarm 1 set value");
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        strings::setLanguage(lang);
        Setting_Disp dlg(t);
        dlg.setAttribute(Qt::WA_DeleteOnClose, false);
        dlg.setItem(5);
        pad(&dlg, "1234");
        dlg.show();
        QCoreApplication::processEvents();
        const QString name = QStringLiteral("/tmp/pmx-dialogs-setting-%1.png")
                                 .arg(lang == strings::Lang::English ? "en" : "ja");
        EXPECT_TRUE(dlg.grab().save(name));
        auto* caption = dlg.findChild<QLabel*>(QStringLiteral("Label1_0"));
        EXPECT_GE(caption->width(), caption->sizeHint().width());
    }
    strings::setLanguage(strings::Lang::English);
}
