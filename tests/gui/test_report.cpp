// The printed list: pages and the PDF, and the report window around them.
#include "report/ListData.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "ui/ReportWindow.h"
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPaintEngine>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextItem>
#include <gtest/gtest.h>
#include <type_traits>

using namespace pmx;
using strings::Lang;

namespace {

// Records the texts a page draws, so a page's content can be checked without pixels.
class TextRecorder : public QPaintEngine {
  public:
    TextRecorder() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPath(const QPainterPath&) override {}
    void drawRects(const QRectF*, int) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF&, const QTextItem& item) override { texts.append(item.text()); }
    Type type() const override { return User; }
    QStringList texts;
};

class RecordingDevice : public QPaintDevice {
  public:
    QPaintEngine* paintEngine() const override { return &m_engine; }
    QStringList texts() const { return m_engine.texts; }

  protected:
    int metric(PaintDeviceMetric m) const override {
        return m == PdmWidth                          ? 12000
               : m == PdmHeight                       ? 17000
               : m >= PdmDpiX && m <= PdmPhysicalDpiY ? 1440
               : m == PdmDepth                        ? 32
               : m == PdmDevicePixelRatio             ? 1
               : m == PdmDevicePixelRatioScaled       ? int(devicePixelRatioFScale())
                                                      : 0;
    }

  private:
    mutable TextRecorder m_engine;
};

QStringList pageTexts(const ReportRenderer& r, int page) {
    RecordingDevice device;
    QPainter painter(&device);
    r.drawPage(painter, page);
    painter.end();
    return device.texts();
}

ReportModel modelOf(const ItemTable& table, Lang lang, bool hex = false) {
    ListArrays lists;
    fillListArrays(table, hex, lists);
    ReportModel m = ReportModel::build(lists, lang);
    m.setPrintDate(QDate(2026, 12, 5));
    return m;
}

ItemTable longNames() {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = QStringLiteral("Item %1 ").arg(i) + QString(150, QLatin1Char('W'));
        t.values[i] = qint16(-i);
    }
    return t;
}

QPageLayout paper(QPageSize::PageSizeId id) {
    return ReportRenderer::withReportMargins(
        QPageLayout(QPageSize(id), QPageLayout::Portrait, QMarginsF()));
}

int pdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return int(QString::fromLatin1(f.readAll())
                   .count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))));
}

ItemTable table(int defined, qint16 value) {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = i < defined ? QStringLiteral("Item %1").arg(i) : QStringLiteral("----");
        t.values[i] = value;
    }
    return t;
}

struct LanguageGuard {
    Lang saved = strings::language();
    explicit LanguageGuard(Lang lang) { strings::setLanguage(lang); }
    ~LanguageGuard() { strings::setLanguage(saved); }
};

} // namespace

// The renderer refers to its model: it must only ever be given one that outlives it.
static_assert(std::is_constructible_v<ReportRenderer, const ReportModel&>);
static_assert(!std::is_constructible_v<ReportRenderer, ReportModel&&>);
static_assert(!std::is_constructible_v<ReportRenderer, const ReportModel&&>);

TEST(ReportRender, PaginationOfAFullTable) {
    // A4 inside the margins, in twips: 30 rows under the headings on page 1, then 35.
    const ReportModel m = modelOf(longNames(), Lang::English);
    ReportRenderer r(m);
    r.paginate(13958);
    ASSERT_EQ(r.pageCount(), 4);
    int details = 0;
    int expectedRow = 0;
    for (int p = 0; p < r.pageCount(); ++p) {
        const ReportPage& page = r.pages()[p];
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
    ItemTable none;
    for (QString& n : none.names)
        n = QStringLiteral("----");
    const ReportModel noRows = modelOf(none, Lang::English);
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
    ItemTable two = none;
    two.names[0] = QStringLiteral("A");
    two.names[1] = QStringLiteral("B");
    const ReportModel m = modelOf(two, Lang::English);
    ReportRenderer r(m);
    r.paginate(630 + 480 + 510 + 630 + 2 * 360 + twips::kPageFooter);
    ASSERT_EQ(r.pageCount(), 2);
    EXPECT_EQ(r.pages()[1][1].kind, ReportBand::ReportFooter);
    EXPECT_EQ(r.pages()[1][1].top, twips::kPageHeader);
}

TEST(ReportRender, PdfPagesAndJapaneseFont) {
    // Letter is shorter than A4: 27 rows, then 32 a page.
    QTemporaryDir dir;
    QString error;
    const QString en = dir.filePath("en.pdf");
    ASSERT_TRUE(ReportRenderer::renderPdf(modelOf(longNames(), Lang::English), en, &error,
                                          paper(QPageSize::A4)))
        << error.toStdString();
    EXPECT_EQ(pdfPages(en), 4);

    ItemTable ja = longNames();
    for (int i = 0; i < kItemCount; ++i)
        ja.names[i] = QStringLiteral("設定項目 %1").arg(i);
    const QString jaPath = dir.filePath("ja.pdf");
    ASSERT_TRUE(ReportRenderer::renderPdf(modelOf(ja, Lang::Japanese), jaPath, &error,
                                          paper(QPageSize::Letter)))
        << error.toStdString();
    EXPECT_EQ(pdfPages(jaPath), 5);
    QFile f(jaPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("NotoSansCJK"))
        << "no CJK face embedded for the Japanese texts";
}

TEST(ReportRender, PdfTextLayerIsTheTextDrawnInBothLanguages) {
    // What a reader copies or searches must be what is printed: digits, blanks and
    // ideographs that share a glyph with another character included.
    ItemTable t = table(70, -32768);
    t.names[0] = QStringLiteral("データ項目 見出し 生産 1234567890");
    t.names[1] = QStringLiteral("Alarm 1 set value, high");
    t.values[2] = 31570;
    QTemporaryDir dir;
    for (const Lang lang : {Lang::English, Lang::Japanese}) {
        const ReportModel m = modelOf(t, lang, true);
        const QString path = dir.filePath(lang == Lang::English ? "en.pdf" : "ja.pdf");
        QString error;
        ASSERT_TRUE(ReportRenderer::renderPdf(m, path, &error, paper(QPageSize::A4)))
            << error.toStdString();
        ReportRenderer r(m);
        r.paginate(13958); // A4 inside the margins
        ASSERT_EQ(pdfPages(path), r.pageCount());
        for (int page = 0; page < r.pageCount(); ++page) {
            QProcess pdftotext;
            pdftotext.start(QStringLiteral("pdftotext"),
                            {"-raw", "-enc", "UTF-8", "-f", QString::number(page + 1), "-l",
                             QString::number(page + 1), path, "-"});
            ASSERT_TRUE(pdftotext.waitForFinished(60000) && pdftotext.exitCode() == 0)
                << "pdftotext (poppler-utils) is needed: " << pdftotext.errorString().toStdString();
            // Line breaks and spacing are the extractor's guess; the characters are not.
            const QString extracted = QString::fromUtf8(pdftotext.readAllStandardOutput())
                                          .remove(QRegularExpression(QStringLiteral("\\s")));
            const QString drawn = pageTexts(r, page).join(QString()).remove(
                QRegularExpression(QStringLiteral("\\s")));
            EXPECT_EQ(extracted.toStdString(), drawn.toStdString())
                << (lang == Lang::English ? "en" : "ja") << " page " << page;
        }
    }
}

TEST(ReportRender, PageImageHasItsBars) {
    const QPageLayout a4 = paper(QPageSize::A4);
    const int dpi = 100;
    ItemTable t = longNames();
    t.names[1] = QStringLiteral("温度上限アラーム");
    const QImage page = ReportRenderer::renderPageImage(modelOf(t, Lang::Japanese), 0, a4, dpi);
    ASSERT_EQ(page.size(), a4.fullRectPixels(dpi).size());
    const QRect body = a4.paintRectPixels(dpi);
    auto dark = [&](int twipY) {
        const int y = body.top() + twipY * dpi / 1440;
        return qGray(page.pixel(body.left() + body.width() / 2, y)) < 128;
    };
    // Page header bar under the title, page footer bar above the page number.
    EXPECT_TRUE(dark(630 + 420));
    EXPECT_TRUE(dark(13958 - twips::kPageFooter + 15));
    EXPECT_EQ(qGray(page.pixel(5, 5)), 255); // margins stay blank
}

TEST(ReportWindow, OneNonModalWindowRefreshedOnEveryRequest) {
    LanguageGuard lang(Lang::English);
    QWidget main;
    ListArrays lists;
    ReportWindow* w = showAllData(&main, table(3, -1), false, lists);
    ASSERT_NE(w, nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isModal());
    ASSERT_TRUE(w->hasReport());
    ASSERT_EQ(w->report()->parameterRows().size(), 3);
    EXPECT_EQ(w->report()->parameterRows()[0].value, "-1");

    // The second request reuses the window with fresh data in the new display mode.
    ReportWindow* again = showAllData(&main, table(128, -1), true, lists);
    EXPECT_EQ(again, w);
    ASSERT_EQ(w->report()->parameterRows().size(), 128);
    EXPECT_EQ(w->report()->parameterRows()[127].value, "FFFFh");
    EXPECT_EQ(w->previewPageCount(),
              ReportRenderer::pageCount(*w->report(), w->printer()->pageLayout()));
    EXPECT_GT(w->previewPageCount(), 1);

    // Closing ends the report; the next request shows it again.
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->hasReport());
    EXPECT_FALSE(w->canSavePdf());
    {
        LanguageGuard ja(Lang::Japanese);
        EXPECT_EQ(showAllData(&main, table(1, 7), false, lists), w);
    }
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->report()->captions().parameterBox, "パラメータ設定"); // the language now
    EXPECT_TRUE(w->canSavePdf());
    w->close();
}

TEST(ReportWindow, SavePdfThroughTheAction) {
    QTemporaryDir dir;
    ReportWindow w;
    w.setReport(modelOf(table(40, 5), Lang::English));
    QStringList saved;
    QStringList failed;
    QObject::connect(&w, &ReportWindow::pdfSaved, [&](const QString& p) { saved << p; });
    QObject::connect(&w, &ReportWindow::pdfSaveFailed,
                     [&](const QString&, const QString& error) { failed << error; });

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
    EXPECT_EQ(saved.at(0), dir.filePath("list.pdf"));
    QFile pdf(dir.filePath("list.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.readAll().startsWith("%PDF"));

    // A failure is reported, in a box that does not block, and leaves no file.
    answer = dir.filePath("missing/list.pdf");
    w.askAndSavePdf();
    ASSERT_EQ(failed.count(), 1);
    EXPECT_FALSE(failed.at(0).isEmpty());
    EXPECT_FALSE(QFile::exists(answer));
    auto* box = w.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    box->close();
}
