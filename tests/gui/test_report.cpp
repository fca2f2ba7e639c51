// The printed list: pages and the PDF, and the report window around them.
#include "report/ListData.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "ui/ReportWindow.h"
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;
using strings::Lang;

namespace {

ReportModel modelOf(const ItemTable& table, Lang lang, bool hex = false) {
    ListArrays lists;
    fillListArrays(table, hex, lists);
    ReportModel m = ReportModel::build(lists, lang);
    m.setPrintDate(QDate(2026, 12, 5));
    return m;
}

// Items 0 .. defined - 1 named "Item N", the rest undefined; every value `value`.
ItemTable table(int defined, qint16 value) {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = i < defined ? QStringLiteral("Item %1").arg(i) : QStringLiteral("----");
        t.values[i] = value;
    }
    return t;
}

QPageLayout paper(QPageSize::PageSizeId id) {
    return ReportRenderer::withReportMargins(
        QPageLayout(QPageSize(id), QPageLayout::Portrait, QMarginsF()));
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int pdfPages(const QString& path) {
    return int(QString::fromLatin1(readAll(path))
                   .count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))));
}

QString noBlanks(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("\\s")));
}

} // namespace

TEST(ReportRender, PaginationOfAFullTable) {
    // A4 inside the margins, in twips: 30 rows under the headings on page 1, then 35. Long
    // names do not make a row taller.
    ItemTable t = table(kItemCount, 0);
    for (QString& name : t.names)
        name += QString(150, QLatin1Char('W'));
    const ReportModel m = modelOf(t, Lang::English);
    ReportRenderer r(m);
    r.paginate(13958);
    ASSERT_EQ(r.pageCount(), 4);
    int details = 0;
    int expectedRow = 0;
    for (int p = 0; p < r.pageCount(); ++p) {
        const ReportPage& page = r.pages()[p];
        ASSERT_FALSE(page.isEmpty());
        EXPECT_EQ(page.first().kind, p == 0 ? ReportBand::ReportHeader : ReportBand::PageHeader);
        EXPECT_EQ(page.last().kind, ReportBand::PageFooter);
        EXPECT_EQ(page.last().top, 13958 - twips::kPageFooter);
        int bottom = 0;
        for (const ReportBand& b : page) {
            if (b.kind == ReportBand::Detail) {
                EXPECT_EQ(b.row, expectedRow++);
                ++details;
            }
            if (b.kind != ReportBand::PageFooter) {
                EXPECT_GE(b.top, bottom) << "bands overlap on page " << p;
                bottom = b.top;
            }
        }
        EXPECT_LE(bottom, 13958 - twips::kPageFooter) << "body runs into the footer";
    }
    EXPECT_EQ(details, kItemCount);
}

TEST(ReportRender, EmptyListAndAFooterThatSpillsOver) {
    const ReportModel noRows = modelOf(table(0, 0), Lang::English);
    ReportRenderer empty(noRows);
    empty.paginate(13958);
    ASSERT_EQ(empty.pageCount(), 1);
    QList<ReportBand::Kind> kinds;
    for (const ReportBand& b : empty.pages()[0])
        kinds.append(b.kind);
    EXPECT_EQ(kinds, (QList<ReportBand::Kind>{ReportBand::ReportHeader, ReportBand::PageHeader,
                                              ReportBand::OuterHeader, ReportBand::InnerHeader,
                                              ReportBand::ReportFooter, ReportBand::PageFooter}));

    // Two rows filling page 1 exactly leave no room for the report footer.
    const ReportModel m = modelOf(table(2, 0), Lang::English);
    ReportRenderer r(m);
    r.paginate(630 + 480 + 510 + 630 + 2 * 360 + twips::kPageFooter);
    ASSERT_EQ(r.pageCount(), 2);
    EXPECT_EQ(r.pages()[1][1].kind, ReportBand::ReportFooter);
    EXPECT_EQ(r.pages()[1][1].top, twips::kPageHeader);
}

TEST(ReportRender, PdfPagesTextLayerAndJapaneseFont) {
    // What a reader copies or searches must be what is printed: digits, blanks and
    // ideographs that share a glyph with another character included.
    ItemTable t = table(kItemCount, -32768);
    t.names[0] = QStringLiteral("データ項目 見出し 生産 1234567890");
    t.names[1] = QStringLiteral("Alarm 1 set value, high");
    t.values[2] = 31570;
    // Letter is shorter than A4: 27 rows on page 1, then 32 a page.
    const std::tuple<Lang, QPageSize::PageSizeId, int> cases[] = {
        {Lang::English, QPageSize::A4, 4}, {Lang::Japanese, QPageSize::Letter, 5}};
    QTemporaryDir dir;
    for (const auto& [lang, size, pages] : cases) {
        SCOPED_TRACE(lang == Lang::English ? "en" : "ja");
        const ReportModel m = modelOf(t, lang, true);
        const QString path = dir.filePath("list.pdf");
        QString error;
        ASSERT_TRUE(ReportRenderer::renderPdf(m, path, &error, paper(size))) << error.toStdString();
        EXPECT_EQ(pdfPages(path), pages);
        if (lang == Lang::Japanese) {
            EXPECT_TRUE(readAll(path).contains("NotoSansCJK")) << "no CJK face embedded";
        }
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {"-enc", "UTF-8", path, "-"});
        ASSERT_TRUE(pdftotext.waitForFinished(60000) && pdftotext.exitCode() == 0)
            << "pdftotext (poppler-utils) is needed: " << pdftotext.errorString().toStdString();
        // Line breaks and spacing are the extractor's guess; the characters are not.
        const QString text = noBlanks(QString::fromUtf8(pdftotext.readAllStandardOutput()));
        EXPECT_TRUE(text.contains(noBlanks(m.captions().parameterBox)));
        for (const ParameterRow& row : m.parameterRows())
            EXPECT_TRUE(text.contains(noBlanks(row.name + row.value))) << row.name.toStdString();
    }
}

TEST(ReportWindow, OneNonModalWindowRefreshedOnEveryRequest) {
    QWidget main;
    ListArrays lists;
    ReportWindow* w = showAllData(&main, table(3, -1), false, lists);
    ASSERT_NE(w, nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isModal());

    // The second request reuses the window with fresh data in the new display mode.
    EXPECT_EQ(showAllData(&main, table(128, -1), true, lists), w);
    ASSERT_EQ(w->report()->parameterRows().size(), 128);
    EXPECT_EQ(w->report()->parameterRows()[127].value, "FFFFh");
    EXPECT_EQ(w->previewPageCount(),
              ReportRenderer::pageCount(*w->report(), w->printer()->pageLayout()));
    EXPECT_GT(w->previewPageCount(), 1);

    // Closing ends the report; the next request shows it again.
    w->close();
    EXPECT_FALSE(w->hasReport());
    EXPECT_FALSE(w->canSavePdf());
    strings::setLanguage(Lang::Japanese);
    EXPECT_EQ(showAllData(&main, table(1, 7), false, lists), w);
    strings::setLanguage(Lang::English);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->report()->captions().parameterBox, "パラメータ設定"); // the language now
    EXPECT_TRUE(w->canSavePdf());
    w->close();
}

TEST(ReportWindow, SavePdfThroughTheAction) {
    QTemporaryDir dir;
    ReportWindow w;
    w.setReport(modelOf(table(40, 5), Lang::English));
    QSignalSpy saved(&w, &ReportWindow::pdfSaved);
    QSignalSpy failed(&w, &ReportWindow::pdfSaveFailed); // path, error
    QString answer;
    QString proposed;
    w.setPdfPathChooser([&](QWidget*, const QString& p) {
        proposed = p;
        return answer;
    });

    // Cancelled: nothing happens.
    w.askAndSavePdf();
    EXPECT_TRUE(proposed.endsWith("PMX-31570A.pdf"));
    EXPECT_EQ(saved.count() + failed.count(), 0);

    // A name without extension gets ".pdf".
    answer = dir.filePath("list");
    w.askAndSavePdf();
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved[0][0].toString(), dir.filePath("list.pdf"));
    EXPECT_TRUE(readAll(dir.filePath("list.pdf")).startsWith("%PDF"));

    // A failure is reported, in a box that does not block, and leaves no file.
    answer = dir.filePath("missing/list.pdf");
    w.askAndSavePdf();
    ASSERT_EQ(failed.count(), 1);
    EXPECT_FALSE(failed[0][1].toString().isEmpty());
    EXPECT_FALSE(QFile::exists(answer));
    auto* box = w.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    box->close();
}
