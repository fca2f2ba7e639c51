// The all-data list: which items it lists, the report built from it and the CSV export.
#include "TestPrinters.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ReportModel.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;
using strings::Lang;

namespace {

// A table in which every item is undefined, with a few defined ones on top.
ItemTable undefinedTable() {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = QStringLiteral("----");
        t.values[i] = qint16(i);
    }
    return t;
}

ItemTable sampleTable() {
    ItemTable t = undefinedTable();
    t.names[0] = QStringLiteral("P0");
    t.values[0] = -5;
    t.selections[0] = Selection::Selected;
    t.names[3] = QStringLiteral("Alarm 1"); // not selected: still listed
    t.values[3] = 500;
    t.selections[3] = Selection::Cleared;
    t.names[7] = QStringLiteral("Unit-----"); // ends in "----": left out
    t.names[127] = QStringLiteral("温度");    // last address
    t.values[127] = 10;
    return t;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST(ReportSetListData, ShortNamesAreDefinedAndTheItemColumnHolds200Characters) {
    // Which items are listed shows in the CSV blocks below and on the printed pages.
    // Names shorter than four characters, the empty name of an unloaded model included,
    // are always defined.
    ListArrays lists;
    ItemTable empty;
    empty.names[1] = QStringLiteral("---");
    fillListArrays(empty, false, lists);
    EXPECT_EQ(std::count(lists.listed.begin(), lists.listed.end(), true), kItemCount);
    // The item column is a 200-character field.
    empty.names[0] = QString(250, QLatin1Char('x'));
    fillListArrays(empty, false, lists);
    EXPECT_EQ(buildReportRows(lists).steps[0].parameters[0].name.size(), 200);
}

TEST(ReportModel, CaptionsAreASnapshotInTheRequestedLanguage) {
    ListArrays lists;
    fillListArrays(sampleTable(), false, lists);
    ReportModel ja = ReportModel::build(lists, Lang::Japanese);
    // A later DEC/HEX switch refills the arrays but not a report already built.
    fillListArrays(sampleTable(), true, lists);
    EXPECT_EQ(ja.parameterRows()[0].value, "-5");
    ja.setPrintDate(QDate(2026, 12, 5));
    EXPECT_EQ(ja.footerDateText(), "2026年12月5日土曜日");
}

TEST(ReportCsv, ProposedName) {
    EXPECT_EQ(csvFileName("PMX-31570A", QDateTime(QDate(2027, 1, 31), QTime(23, 59, 0))),
              "PMX-31570A2027_1_31_23_59_0.csv");
}

TEST(ReportCsv, BlocksAppendedByteForByte) {
    QTemporaryDir dir;
    const QString path = dir.filePath("list.csv");
    ListArrays lists;
    const auto append = [&](const ItemTable& t, bool hex, Lang lang) {
        fillListArrays(t, hex, lists);
        QString error;
        EXPECT_TRUE(appendCsv(path, lists, lang, &error)) << error.toStdString();
    };
    ItemTable quoted = undefinedTable();
    quoted.names[0] = QStringLiteral("a\"b"); // written as it stands
    append(sampleTable(), false, Lang::English);
    append(sampleTable(), true, Lang::English);
    append(quoted, false, Lang::Japanese);
    append(undefinedTable(), false, Lang::English); // headings only
    const QByteArray head = "\"PMX-31570A Setting software\"\r\n"
                            "\"Parameter\"\r\n"
                            "\"Data Item\",\"Data\"\r\n";
    EXPECT_EQ(readAll(path), head + "\"P0\",-5\r\n\"Alarm 1\",500\r\n\"温度\",10\r\n" + head +
                                 "\"P0\",\"FFFBh\"\r\n\"Alarm 1\",\"1F4h\"\r\n\"温度\",\"Ah\"\r\n" +
                                 "\"PMX-31570A 設定ソフトウェア\"\r\n\"パラメータ設定\"\r\n"
                                 "\"データ項目\",\"データ\"\r\n\"a\"b\",0\r\n" +
                                 head);
}
