// The comparison with the instrument in the window, offscreen with a fake communication
// object: the list and its counts, taking values, writing the differences, the export,
// and verify after writing with its stored box.
#include "MainWindowFixture.h"
#include "model/TextCodec.h"
#include "ui/CompareDialog.h"

#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

using namespace pmx;
using namespace pmx::test;

namespace {

// The fake instrument holds 10 * i; items 3 (equal), 4 and 5 (different), 6 (refused).
struct Compared : Window {
    Compared() {
        edit([](ItemTable& t) {
            t.selections.fill(Selection::Cleared);
            for (int i : {3, 4, 5, 6}) {
                t.selections[i] = Selection::Selected;
                t.values[i] = qint16(10 * i);
            }
            t.values[4] = 1;
            t.values[5] = 2;
        });
        com->faults[6] = "nak";
    }
    void run(const char* buttonName) {
        QTest::mouseClick(child<QPushButton>(w->compareDialog(), buttonName), Qt::LeftButton);
        w->onDispatcherTick();
    }
    QString counts() { return child<QLabel>(w->compareDialog(), "Label_counts")->text(); }
    QTableWidget* grid() { return child<QTableWidget>(w->compareDialog(), "Grid_compare"); }
    QStringList writes() { return com->log.filter(QRegularExpression("^W ")); }
    QCheckBox* verifyBox() { return child<QCheckBox>(w.get(), "Check_verify"); }
};

} // namespace

TEST(CompareDialog, ListTakeWriteDifferencesAndExport) {
    Compared win;
    MainWindow& w = *win.w;
    win.action("menu_compare")->trigger();
    w.onDispatcherTick();
    ASSERT_NE(w.compareDialog(), nullptr);
    EXPECT_TRUE(w.compareDialog()->isVisible());
    EXPECT_EQ(win.counts(), "2 of 4 items differ; 1 could not be read");
    ASSERT_EQ(win.grid()->rowCount(), 4);
    EXPECT_EQ(win.grid()->item(1, 3)->text(), "40");
    EXPECT_EQ(win.grid()->item(3, 3)->text(), strings::text(TextId::NegativeAcknowledgement));
    child<QCheckBox>(w.compareDialog(), "Check_diffonly")->setChecked(true);
    ASSERT_EQ(win.grid()->rowCount(), 3); // the equal row is hidden
    EXPECT_EQ(win.grid()->item(0, 0)->text(), "0004h");

    // Take the instrument's value of the chosen row only.
    win.grid()->selectRow(0);
    win.run("Command_take");
    EXPECT_EQ(w.items().values[4], 40);
    EXPECT_EQ(w.items().values[5], 2);
    EXPECT_EQ(win.counts(), "1 of 4 items differ; 1 could not be read");
    EXPECT_TRUE(win.writes().isEmpty());

    // Write the differences: asked first with Write's own question; "no" writes nothing,
    // "yes" only item 0005.
    win.answers = {false};
    win.run("Command_writediff");
    EXPECT_TRUE(win.writes().isEmpty());
    win.run("Command_writediff");
    EXPECT_EQ(win.writes(), QStringList{"W 0005 0002"});
    EXPECT_EQ(win.asked.value(0), strings::text(TextId::ConfirmWrite));
    EXPECT_EQ(win.counts(), "0 of 4 items differ; 1 could not be read");
    EXPECT_FALSE(child<QPushButton>(w.compareDialog(), "Command_writediff")->isEnabled());

    // Export: the rows shown, numbers unquoted.
    child<QCheckBox>(w.compareDialog(), "Check_diffonly")->setChecked(false);
    win.nextFile = win.path("cmp.csv");
    win.run("Command_export");
    const QStringList lines = decodeText(win.read("cmp.csv")).split("\r\n");
    ASSERT_EQ(lines.size(), 7); // title, headings, 4 rows, the empty rest after the last CR LF
    EXPECT_TRUE(lines[3].startsWith("\"0004h\",")) << qPrintable(lines[3]);
    EXPECT_TRUE(lines[3].endsWith(",40,40")) << qPrintable(lines[3]);
}

TEST(CompareDialog, VerifyAfterWritingIsStoredAndReportsWhatWasNotKept) {
    {
        Compared win;
        EXPECT_FALSE(win.verifyBox()->isChecked());
        win.w->postTask(kTaskWriteAll);
        win.w->onDispatcherTick();
        EXPECT_EQ(win.com->log.size(), 4) << "writes only, no read-back";
        win.verifyBox()->setChecked(true);
    }
    Compared win;
    EXPECT_TRUE(win.verifyBox()->isChecked()) << "kept for the next start";
    win.w->postTask(kTaskWriteAll);
    win.w->onDispatcherTick();
    QCoreApplication::processEvents(); // the notices are told after the write
    // The fake keeps 10 * i whatever is written: listed under the write's summary.
    const QStringList lines = child<QLabel>(win.w.get(), "Label_summary")->text().split('\n');
    EXPECT_EQ(lines.mid(1), (QStringList{"0004h: wrote 1, instrument holds 40",
                                         "0005h: wrote 2, instrument holds 50"}));
    win.verifyBox()->setChecked(false);
    EXPECT_FALSE(Compared().verifyBox()->isChecked());
}
