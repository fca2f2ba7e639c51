// The window with an instrument profile: the value dialog's range and refusal in both
// languages, the value cells' tool tips and look, Write leaving live and read-only items
// out, the report's units, a refused profile, and watching live items through the
// dispatcher. Without a profile the window is as it always was.
#include "MainWindowFixture.h"
#include "RecordingView.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ListUnits.h"
#include "report/ReportModel.h"
#include "ui/CompareDialog.h"
#include "ui/LiveTrend.h"
#include "ui/ReportWindow.h"
#include "ui/ValuePadDialog.h"

#include <QDir>
#include <QSpinBox>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

const QByteArray kProfile = "[0001]\nkind=live\nunit=kPa\n"
                            "[0002]\nkind=readonly\n"
                            "[0010]\nmin=0\nmax=8\nunit=ms\nnote=Points in use\n";

// A window whose model has the profile above in the program's profiles folder.
struct Profiled : test::Window {
    explicit Profiled(strings::Lang lang = strings::Lang::English)
        : test::Window(true, lang, [](const QString& home) {
              QDir(home).mkpath(QStringLiteral("profiles"));
              QFile f(home + QStringLiteral("/profiles/UNIT-1.profile"));
              EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(kProfile) == kProfile.size());
          }) {
        edit([](ItemTable& t) {
            t.modelName = QStringLiteral("UNIT-1");
            for (int i = 0; i < kItemCount; ++i) {
                t.names[i] = QStringLiteral("Item %1").arg(i);
                t.selections[i] = Selection::Selected;
            }
        });
    }
};

// The unit column of the report the window shows, by item name.
QMap<QString, QString> reportUnits(test::Window& win) {
    win.w->showAllData();
    QMap<QString, QString> units;
    auto* report = win.w->findChild<ReportWindow*>();
    EXPECT_NE(report, nullptr);
    if (!report || !report->report())
        return units;
    for (const ParameterRow& row : report->report()->parameterRows())
        units.insert(row.name, row.unit);
    report->close();
    return units;
}

} // namespace

TEST(ProfileWindow, PadShowsTheRangeAndRefusesOutsideItInBothLanguages) {
    for (auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Profiled win(lang);
        ASSERT_NE(win.w->profile(), nullptr);
        win.w->editValue(0x10);
        ValuePadDialog* pad = win.w->valueDialog();
        ASSERT_NE(pad, nullptr);
        auto* range = test::child<QLabel>(pad, "Label_range");
        EXPECT_TRUE(range->isVisibleTo(pad));
        EXPECT_EQ(range->text(),
                  strings::text(TextId::PadRange, lang)
                      .arg(strings::text(TextId::ProfileRangeBoth, lang).arg(0).arg(8) + " ms"));
        pad->pressDigit(9);
        pad->storeValue();
        auto* refusal = test::child<QLabel>(pad, "Label_refusal");
        EXPECT_TRUE(refusal->isVisibleTo(pad));
        EXPECT_EQ(refusal->text(), strings::text(TextId::PadAboveMax, lang).arg("8 ms"));
        EXPECT_NE(win.w->items().values[0x10], 9);
        pad->pressClear();
        pad->pressDigit(8);
        pad->storeValue();
        EXPECT_EQ(win.w->items().values[0x10], 8);
    }
}

TEST(ProfileWindow, CellsCarryUnitRangeAndKindAndWriteLeavesLiveItemsOut) {
    Profiled win;
    QLineEdit* live = win.valueCell(1);
    EXPECT_TRUE(live->font().italic());
    EXPECT_TRUE(live->toolTip().contains(strings::text(TextId::TipLive)));
    EXPECT_TRUE(live->toolTip().contains("kPa"));
    EXPECT_FALSE(win.valueCell(3)->font().italic());
    EXPECT_TRUE(win.valueCell(3)->toolTip().isEmpty());
    EXPECT_TRUE(win.valueCell(2)->toolTip().contains(strings::text(TextId::TipReadonly)));

    win.com->log.clear();
    win.w->postTask(kTaskWriteAll);
    win.w->onDispatcherTick();
    for (const QString& line : win.com->log) {
        EXPECT_FALSE(line.startsWith("W 0001")) << qPrintable(line);
        EXPECT_FALSE(line.startsWith("W 0002")) << qPrintable(line);
    }
    EXPECT_TRUE(win.com->log.contains(QStringLiteral("W 0010 000A")) ||
                win.com->log.filter("W 0010").size() == 1);
    EXPECT_TRUE(test::child<QLabel>(win.w.get(), "Label_summary")
                    ->text()
                    .endsWith(strings::text(TextId::LeftOutOfWrite).arg(2)));

    // A changed live value is not sent either, and the summary line says why.
    test::child<QCheckBox>(win.w.get(), "Check_write")->setChecked(true);
    win.com->log.clear();
    win.w->editValue(1);
    win.w->valueDialog()->pressDigit(5);
    win.w->valueDialog()->storeValue();
    win.w->onDispatcherTick();
    EXPECT_TRUE(win.com->log.isEmpty()) << qPrintable(win.com->log.join(','));
    EXPECT_EQ(test::child<QLabel>(win.w.get(), "Label_summary")->text(),
              strings::text(TextId::TipLive));
}

TEST(ProfileWindow, TheReportShowsUnitsAndTheCsvHasNoUnitColumn) {
    Profiled win;
    const QMap<QString, QString> units = reportUnits(win);
    ASSERT_EQ(units.size(), kItemCount);
    EXPECT_EQ(units.value("Item 1"), "kPa");
    EXPECT_EQ(units.value("Item 16"), "ms");
    EXPECT_EQ(units.value("Item 3"), "");
    ListArrays lists;
    fillListArrays(win.w->items(), false, lists);
    const QString plain = csvBlock(lists, strings::Lang::English);
    fillListUnits(win.w->profile(), lists);
    EXPECT_EQ(csvBlock(lists, strings::Lang::English), plain);
}

TEST(ProfileWindow, WithoutAProfileNothingChanges) {
    test::Window plain;
    plain.edit([](ItemTable& t) {
        t.modelName = QStringLiteral("UNIT-1");
        for (int i = 0; i < kItemCount; ++i)
            t.selections[i] = Selection::Selected;
    });
    EXPECT_EQ(plain.w->profile(), nullptr);
    for (const QString& unit : reportUnits(plain))
        EXPECT_TRUE(unit.isEmpty()) << qPrintable(unit);
    for (int r = 0; r < kRowsPerPage; ++r) {
        EXPECT_TRUE(plain.valueCell(r)->toolTip().isEmpty());
        EXPECT_FALSE(plain.valueCell(r)->font().italic());
    }
    plain.w->postTask(kTaskWriteAll);
    plain.w->onDispatcherTick();
    EXPECT_EQ(plain.com->log.filter("W ").size(), kItemCount - 1); // all but 0000h
    plain.w->editValue(0x10);
    EXPECT_FALSE(test::child<QLabel>(plain.w->valueDialog(), "Label_range")
                     ->isVisibleTo(plain.w->valueDialog()));
}

TEST(ProfileWindow, ABrokenProfileIsRefusedWholeAndSaysWhere) {
    test::Window win(true, strings::Lang::English, [](const QString& home) {
        QDir(home).mkpath(QStringLiteral("profiles"));
        QFile f(home + QStringLiteral("/profiles/UNIT-1.profile"));
        const QByteArray bad = "[0001]\nkind=live\n[0010]\nmin=9\nmax=1\n";
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bad) == bad.size());
    });
    win.edit([](ItemTable& t) { t.modelName = QStringLiteral("UNIT-1"); });
    EXPECT_EQ(win.w->profile(), nullptr);
    const QString summary = test::child<QLabel>(win.w.get(), "Label_summary")->text();
    EXPECT_TRUE(summary.contains("UNIT-1.profile")) << qPrintable(summary);
    EXPECT_TRUE(summary.contains(strings::text(TextId::ProfileAtLine).arg(5).arg("")))
        << qPrintable(summary);
    EXPECT_FALSE(win.valueCell(1)->font().italic()); // nothing of it is used
}

TEST(ProfileWindow, WatchingReadsTheLiveItemsWhileIdleAndGivesWayToTransfers) {
    Profiled win;
    auto* box = test::child<QCheckBox>(win.w.get(), "Check_watch");
    EXPECT_FALSE(box->isChecked()); // off at start
    EXPECT_EQ(win.w->watchInterval(), 1000);
    win.w->setWatchInterval(500);
    EXPECT_EQ(test::child<QSpinBox>(win.w.get(), "Spin_watch")->value(), 500);
    const bool modified = win.w->isWindowModified();
    box->setChecked(true); // posts the first round
    ASSERT_NE(win.w->liveTrend(), nullptr);
    for (int round = 0; round < 3; ++round) {
        win.com->values[1] = itemDataText(qint16(100 + round)).toLatin1();
        win.com->log.clear();
        win.w->watchTick();
        win.w->onDispatcherTick();
        EXPECT_EQ(win.com->log, QStringList({"R 0001"}));
        EXPECT_EQ(win.w->items().values[1], 100 + round);
        EXPECT_EQ(win.valueCell(1)->text(), QString::number(100 + round));
    }
    const QList<QPointF> points = win.w->liveTrend()->points(1);
    ASSERT_EQ(points.size(), 3);
    EXPECT_EQ(points.back().y(), 102);
    EXPECT_EQ(win.w->isWindowModified(), modified); // the instrument's values are no edit

    // A transfer posted goes first: no round is posted over it.
    win.w->postTask(kTaskReadAll);
    win.w->watchTick();
    EXPECT_EQ(win.w->pendingTask(), kTaskReadAll);
    win.w->onDispatcherTick();
    box->setChecked(false);
    win.com->log.clear();
    win.w->watchTick();
    win.w->onDispatcherTick();
    EXPECT_TRUE(win.com->log.isEmpty());
}
