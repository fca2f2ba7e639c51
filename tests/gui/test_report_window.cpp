#include "report/render/ReportRenderer.h"
#include "ui/ReportWindow.h"
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPrinter>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

using namespace pmx;
using strings::Lang;

namespace {

ItemTable table(int defined, qint16 value) {
    ItemTable t;
    for (int i = 0; i < kItemCount; ++i) {
        t.ItemName[i] = i < defined ? QStringLiteral("Item %1").arg(i) : QStringLiteral("----");
        t.ItemData[i] = value;
    }
    return t;
}

struct LanguageGuard {
    Lang saved = strings::language();
    explicit LanguageGuard(Lang lang) { strings::setLanguage(lang); }
    ~LanguageGuard() { strings::setLanguage(saved); }
};

} // namespace

TEST(ReportWindow, OneNonModalWindowRefreshedOnEveryRequest) {
    LanguageGuard lang(Lang::English);
    QWidget main;
    ListArrays lists;
    ReportWindow* w = ShowAllData(&main, table(3, -1), false, lists);
    ASSERT_NE(w, nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isModal());
    ASSERT_TRUE(w->hasReport());
    ASSERT_EQ(w->report()->parameterRows().size(), 3);
    EXPECT_EQ(w->report()->parameterRows()[0].rp_data, "-1");

    // The second request reuses the window with fresh data in the new display mode.
    ReportWindow* again = ShowAllData(&main, table(128, -1), true, lists);
    EXPECT_EQ(again, w);
    ASSERT_EQ(w->report()->parameterRows().size(), 128);
    EXPECT_EQ(w->report()->parameterRows()[127].rp_data, "FFFFh");
    EXPECT_EQ(w->previewPageCount(),
              ReportRenderer::pageCount(*w->report(), w->printer()->pageLayout()));
    EXPECT_GT(w->previewPageCount(), 1);

    // Closing ends the report; the next request shows it again.
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->hasReport());
    EXPECT_FALSE(w->savePdfAction()->isEnabled());
    {
        LanguageGuard ja(Lang::Japanese);
        EXPECT_EQ(ShowAllData(&main, table(1, 7), false, lists), w);
    }
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->report()->captions().lbpara_section6, "パラメータ設定"); // the language now
    EXPECT_TRUE(w->savePdfAction()->isEnabled());
    w->close();
}

TEST(ReportWindow, SavePdfThroughTheAction) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ReportWindow w;
    ListArrays lists;
    SetListData(table(40, 5), false, lists);
    w.setReport(ReportModel::build(lists, Lang::English));
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
    w.savePdfAction()->trigger();
    EXPECT_TRUE(proposed.endsWith("PMX-31570A.pdf"));
    EXPECT_EQ(saved.count() + failed.count(), 0);

    // A name without extension gets ".pdf".
    answer = dir.filePath("list");
    w.savePdfAction()->trigger();
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved.at(0), dir.filePath("list.pdf"));
    QFile pdf(dir.filePath("list.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.readAll().startsWith("%PDF"));

    // A failure is reported, in a box that does not block, and leaves no file.
    answer = dir.filePath("missing/list.pdf");
    w.savePdfAction()->trigger();
    ASSERT_EQ(failed.count(), 1);
    EXPECT_FALSE(failed.at(0).isEmpty());
    EXPECT_FALSE(QFile::exists(answer));
    auto* box = w.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    box->close();
}
