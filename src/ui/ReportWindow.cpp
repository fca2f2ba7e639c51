#include "ui/ReportWindow.h"
#include "report/render/ReportRenderer.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"
#include "ui/Prompts.h"
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QStandardPaths>
#include <QToolBar>
#include <QToolButton>

namespace pmx {

namespace {

QString defaultChoosePath(QWidget* parent, const QString& proposed) {
    return chooseFile(parent, true, strings::text(TextId::SavePdf), proposed, QString(),
                      strings::text(TextId::PdfFiles), QStringLiteral("pdf"));
}

} // namespace

ReportWindow::ReportWindow(QWidget* parent)
    : QPrintPreviewDialog(parent, Qt::Window), m_choosePath(defaultChoosePath) {
    setObjectName(QStringLiteral("rptver"));
    setModal(false);
    setWindowModality(Qt::NonModal);
    printer()->setPageLayout(ReportRenderer::withReportMargins(printer()->pageLayout()));
    printer()->setDocName(QStringLiteral("PMX-31570A"));
    connect(this, &QPrintPreviewDialog::paintRequested, this, &ReportWindow::paintReport);

    m_savePdf = new QAction(strings::text(TextId::SavePdf), this);
    m_savePdf->setObjectName(QStringLiteral("actionSavePdf"));
    m_savePdf->setShortcut(QKeySequence::Save);
    connect(m_savePdf, &QAction::triggered, this, &ReportWindow::askAndSavePdf);
    // The preview's own tool bar has Print but no direct PDF export; put ours beside it.
    if (auto* bar = findChild<QToolBar*>()) {
        bar->addSeparator();
        bar->addAction(m_savePdf);
        nameToolBarFields(bar);
    } else {
        addAction(m_savePdf);
    }
    // A page and a half high where the screen has room; never beyond the screen.
    fitWindowToScreen(this, nullptr, QSize(900, 1000));
}

void ReportWindow::nameToolBarFields(QToolBar* bar) {
    // The preview's own zoom box and page number field have no caption, nor has the button
    // that shows the tools a narrow window has no room for: named here for screen readers.
    using strings::text;
    for (QComboBox* zoom : bar->findChildren<QComboBox*>())
        a11y::nameComboBox(zoom, text(TextId::ZoomCaption));
    for (QLineEdit* page : bar->findChildren<QLineEdit*>()) {
        if (!qobject_cast<QComboBox*>(page->parentWidget()))
            page->setAccessibleName(text(TextId::PageNumber));
    }
    if (auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(text(TextId::MoreTools));
}

QPrintPreviewWidget* ReportWindow::previewWidget() const {
    return findChild<QPrintPreviewWidget*>();
}

void ReportWindow::setReport(const ReportModel& model) {
    m_model = model;
    setWindowTitle(model.captions().title);
    m_savePdf->setEnabled(true);
    if (auto* preview = previewWidget())
        preview->updatePreview();
}

bool ReportWindow::canSavePdf() const {
    return m_savePdf->isEnabled();
}

int ReportWindow::previewPageCount() const {
    if (auto* preview = previewWidget())
        return preview->pageCount();
    return 0;
}

void ReportWindow::paintReport(QPrinter* target) {
    if (m_model)
        ReportRenderer::render(target, *m_model);
}

bool ReportWindow::savePdf(const QString& path, QString* error) {
    if (!m_model) {
        if (error)
            *error = strings::text(TextId::NoReportToSave);
        return false;
    }
    return ReportRenderer::renderPdf(*m_model, path, error, printer()->pageLayout());
}

void ReportWindow::askAndSavePdf() {
    if (!m_model)
        return;
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString proposed =
        QDir(docs.isEmpty() ? QDir::homePath() : docs).filePath(QStringLiteral("PMX-31570A.pdf"));
    QString path = m_choosePath ? m_choosePath(this, proposed) : QString();
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QString error;
    if (savePdf(path, &error)) {
        emit pdfSaved(path);
        return;
    }
    emit pdfSaveFailed(path, error);
    // A failed save must not pass unnoticed; the box does not block the preview.
    QMessageBox* box =
        messageBox(QMessageBox::Warning, QDir::toNativeSeparators(path) + QLatin1Char('\n') + error,
                   QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void ReportWindow::done(int result) {
    QPrintPreviewDialog::done(result);
    // The report has ended: its snapshot goes; the next "All Data" builds a new one.
    m_model.reset();
    m_savePdf->setEnabled(false);
}

ReportWindow* showAllData(QWidget* parent, const ItemTable& table, bool hex, ListArrays& lists,
                          const InstrumentProfile* profile) {
    fillListArrays(table, hex, lists);
    fillListUnits(profile, lists);
    const ReportModel model = ReportModel::build(lists, strings::language());

    // One report window for the run.
    static QPointer<ReportWindow> window;
    if (!window)
        window = new ReportWindow(parent);
    window->setReport(model);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

ReportWindow* showAllData(QWidget* parent, const ItemTable& table, bool hex,
                          const InstrumentProfile* profile) {
    static ListArrays lists;
    return showAllData(parent, table, hex, lists, profile);
}

} // namespace pmx
