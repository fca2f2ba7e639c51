// Colours from the palette in use (a dark theme included) and the main window on a small
// screen at 150 %.
#include "MainWindowFixture.h"
#include "ui/Colours.h"
#include "ui/FittingScrollArea.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace pmx;
using namespace pmx::test;

namespace {

// A red or green that is still clearly one: its own channel leads the others.
bool leads(const QColor& c, int channel) {
    const int own[] = {c.red(), c.green(), c.blue()};
    return own[channel] > 1.5 * own[(channel + 1) % 3] &&
           own[channel] > 1.5 * own[(channel + 2) % 3];
}

// The application palette for the length of a test.
struct PaletteScope {
    QPalette saved = QApplication::palette();
    explicit PaletteScope(const QPalette& p) { QApplication::setPalette(p); }
    ~PaletteScope() { QApplication::setPalette(saved); }
};

} // namespace

TEST(Colours, TonesReadOnEveryBackground) {
    for (const QColor background : {QColor(Qt::white), QColor(239, 239, 239), QColor(119, 119, 119),
                                    QColor(53, 53, 53), QColor(Qt::black)}) {
        SCOPED_TRACE(background.name().toStdString());
        const QColor red = readableTone(QColor(255, 0, 0), background);
        const QColor green = readableTone(QColor(0, 110, 0), background);
        EXPECT_GE(contrastRatio(red, background), 4.5);
        EXPECT_GE(contrastRatio(green, background), 4.5);
        EXPECT_TRUE(leads(red, 0)) << red.name().toStdString();
        EXPECT_TRUE(leads(green, 1)) << green.name().toStdString();
    }
    // A tone that reads already stays as it is.
    EXPECT_EQ(readableTone(QColor(0, 110, 0), Qt::white), QColor(0, 110, 0));
}

TEST(Colours, MainWindowFollowsTheLightAndTheDarkPalette) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        const PaletteScope scope(dark ? darkPalette() : QApplication::style()->standardPalette());
        const QPalette p = QApplication::palette();
        ASSERT_EQ(isDarkPalette(p), dark);
        Window win;
        MainWindow& w = *win.w;
        win.edit([](ItemTable& t) { t.selections[4] = Selection::Selected; });
        QLabel* heading = win.modelLabel();
        EXPECT_EQ(heading->palette().color(QPalette::WindowText), p.color(QPalette::WindowText));

        win.com->faults[4] = "nak";
        w.postTask(kTaskReadAll);
        w.onDispatcherTick();
        ASSERT_TRUE(w.failureOnShow());
        const QColor red = heading->palette().color(QPalette::WindowText);
        EXPECT_GE(contrastRatio(red, p.color(QPalette::Window)), 4.5) << red.name().toStdString();
        EXPECT_TRUE(leads(red, 0)) << red.name().toStdString();
        auto* summary = child<QLabel>(&w, "Label_summary");
        EXPECT_GE(contrastRatio(summary->palette().color(QPalette::WindowText),
                                p.color(QPalette::Window)),
                  4.5);
        // The failed item's cell: marked, and its value still reads.
        const QPalette cell = win.valueCell(4)->palette();
        EXPECT_NE(cell.color(QPalette::Base), p.color(QPalette::Base));
        EXPECT_GE(contrastRatio(cell.color(QPalette::Text), cell.color(QPalette::Base)), 4.5);

        // The theme changes while the failure is on show: the red is chosen again.
        QApplication::setPalette(dark ? QApplication::style()->standardPalette() : darkPalette());
        QCoreApplication::processEvents();
        const QPalette now = QApplication::palette();
        EXPECT_GE(contrastRatio(heading->palette().color(QPalette::WindowText),
                                now.color(QPalette::Window)),
                  4.5);
        w.endFailureDisplay();
        EXPECT_EQ(heading->palette().color(QPalette::WindowText), now.color(QPalette::WindowText));
    }
}

TEST(Screen, MainWindowFitsALaptopAt150PercentAndKeepsEveryControl) {
    // At a scale factor of 1.5 the window is laid out in the same logical pixels as at
    // 1.0, on a screen of a 1.5th the size: 1366 x 768 less a 40-pixel panel.
    const QSize available = QSize(1366, 768 - 40) / 1.5;
    Window win;
    MainWindow& w = *win.w;
    // That it fits is checked for every window in both languages (tests/small).
    w.fitTo(available);
    QCoreApplication::processEvents();

    // Every control is there at its full size, in the scrolling part if not in sight.
    auto* scroll = child<FittingScrollArea>(&w, "Scroll_body");
    QWidget* body = scroll->widget();
    EXPECT_GE(body->width(), body->minimumSizeHint().width());
    EXPECT_GE(body->height(), body->minimumSizeHint().height());
    for (const char* name : {"Command_Move_0", "Command_Move_1", "Command_File_0", "Command_File_1",
                             "Check_write", "Check_verify", "Label_port"})
        EXPECT_TRUE(child<QWidget>(&w, name)->isVisibleTo(&w)) << name;

    // The keyboard brings a cell out of sight into view.
    ASSERT_TRUE(activate(&w));
    win.selectBox(31)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* last = win.valueCell(31);
    ASSERT_EQ(QApplication::focusWidget(), last);
    const QRect shown(last->mapTo(scroll->viewport(), QPoint()), last->size());
    EXPECT_TRUE(scroll->viewport()->rect().contains(shown));
}
