// The all-data list: which items it lists, the report built from it and the CSV export.
#include "TestPrinters.h"
#include "model/TextCodec.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ReportModel.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>

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

TEST(ReportCsv, OneFileNeverHoldsTwoEncodings) {
    // Seeded random exports in every encoding, appended to the same files: each file always
    // reads back, in the encoding its text shows, as exactly the blocks written, with at
    // most one byte-order mark, at its start. What was written stays whatever comes later.
    std::mt19937 random(22);
    const CsvEncoding encodings[] = {CsvEncoding::Utf8, CsvEncoding::Utf8Bom,
                                     CsvEncoding::ShiftJis};
    const QString names[] = {QStringLiteral("P0"), QStringLiteral("温度"),
                             QStringLiteral("アラーム 1"), QStringLiteral("Alarm, \"2\"")};
    for (int run = 0; run < 60; ++run) {
        QTemporaryDir dir;
        const QString path = dir.filePath("list.csv");
        QString expected;
        for (int block = 0; block < 4; ++block) {
            ItemTable t = undefinedTable();
            for (int i = 0; i < 3; ++i)
                t.names[i] = names[random() % std::size(names)];
            const Lang lang = random() % 2 ? Lang::Japanese : Lang::English;
            const CsvEncoding chosen = encodings[random() % std::size(encodings)];
            ListArrays lists;
            fillListArrays(t, false, lists);
            QString error;
            CsvWritten written;
            ASSERT_TRUE(appendCsv(path, lists, lang, &error, &written, chosen))
                << error.toStdString();
            expected += csvBlock(lists, lang);
            EXPECT_EQ(written.chosen, chosen);
            EXPECT_EQ(written.appended, block > 0);
        }
        const QByteArray bytes = readAll(path);
        EXPECT_EQ(decodeText(bytes), expected) << "run " << run;
        EXPECT_LE(bytes.count("\xEF\xBB\xBF"), 1);
        EXPECT_TRUE(bytes.indexOf("\xEF\xBB\xBF") <= 0);
    }
}

TEST(ReportCsv, EncodingsAsChosenOrAsTheFileAlreadyIs) {
    QTemporaryDir dir;
    ItemTable t = undefinedTable();
    t.names[0] = QStringLiteral("温度");
    ListArrays lists;
    fillListArrays(t, false, lists);
    const QString sjis = dir.filePath("sjis.csv");
    CsvWritten w;
    ASSERT_TRUE(appendCsv(sjis, lists, Lang::English, nullptr, &w, CsvEncoding::ShiftJis));
    EXPECT_TRUE(readAll(sjis).endsWith("\"\x89\xB7\x93\x78\",0\r\n")) << "温度 in Shift_JIS";
    ASSERT_TRUE(appendCsv(sjis, lists, Lang::English, nullptr, &w, CsvEncoding::Utf8Bom));
    EXPECT_EQ(w.written, CsvEncoding::ShiftJis);
    EXPECT_EQ(csvWrittenText(w, sjis, Lang::English),
              "1 items appended to " + QDir::toNativeSeparators(sjis) +
                  " (in Shift_JIS, the encoding the file already has)");
    const QString bom = dir.filePath("bom.csv");
    ASSERT_TRUE(appendCsv(bom, lists, Lang::English, nullptr, &w, CsvEncoding::Utf8Bom));
    EXPECT_TRUE(readAll(bom).startsWith("\xEF\xBB\xBF\"PMX-31570A"));
    ASSERT_TRUE(appendCsv(bom, lists, Lang::English, nullptr, &w, CsvEncoding::Utf8));
    EXPECT_EQ(w.written, CsvEncoding::Utf8) << "the same encoding: nothing to say";
    EXPECT_EQ(csvWrittenText(w, bom, Lang::English).count('('), 0);

    // A character Shift_JIS lacks: refused with the reason, nothing written.
    t.names[1] = QStringLiteral("Zone \U0001F321");
    fillListArrays(t, false, lists);
    const QString refused = dir.filePath("refused.csv");
    QString error;
    EXPECT_FALSE(appendCsv(refused, lists, Lang::English, &error, nullptr, CsvEncoding::ShiftJis));
    EXPECT_EQ(error, strings::text(TextId::CsvCannotHold, Lang::English)
                         .arg("Shift_JIS", QStringLiteral("\U0001F321")));
    EXPECT_FALSE(QFile::exists(refused));

    for (const char* name : {"utf-8", "UTF-8-BOM", "shift_jis"})
        EXPECT_TRUE(csvEncodingFromName(name).has_value()) << name;
    EXPECT_FALSE(csvEncodingFromName("latin1").has_value());
}
