#pragma once
#include "model/ItemTable.h"
#include "report/ListData.h"
#include "report/ListUnits.h"
#include "report/ReportModel.h"
#include <QPrintPreviewDialog>
#include <functional>
#include <optional>

class QAction;
class QPrintPreviewWidget;
class QToolBar;

namespace pmx {

// The report window (object name "rptver"): the all-data list in a print preview that does
// not block the main window.
// The operator prints from it or saves it as a PDF. It shows a snapshot taken when the
// list was requested; closing it releases the snapshot.
class ReportWindow : public QPrintPreviewDialog {
    Q_OBJECT
  public:
    explicit ReportWindow(QWidget* parent = nullptr);

    // Replaces the snapshot, retitles the window and redraws the preview.
    void setReport(const ReportModel& model);
    bool hasReport() const { return m_model.has_value(); }
    const ReportModel* report() const { return m_model ? &*m_model : nullptr; }

    // Pages the preview shows on the current paper.
    int previewPageCount() const;

    // Writes the shown report as a PDF on the preview's paper.
    bool savePdf(const QString& path, QString* error = nullptr);

    // Asks where to save the PDF; empty means cancelled. Replaceable for tests.
    using PathChooser = std::function<QString(QWidget* parent, const QString& proposed)>;
    void setPdfPathChooser(PathChooser chooser) { m_choosePath = std::move(chooser); }
    // Save PDF can be used (a report is shown).
    bool canSavePdf() const;
    // Save PDF, as its tool bar button does: asks where, then saves.
    void askAndSavePdf();

  signals:
    void pdfSaved(const QString& path);
    void pdfSaveFailed(const QString& path, const QString& error);

  public slots:
    void done(int result) override;

  private:
    void paintReport(QPrinter* printer);
    void nameToolBarFields(QToolBar* bar);
    QPrintPreviewWidget* previewWidget() const;

    std::optional<ReportModel> m_model;
    QAction* m_savePdf = nullptr;
    PathChooser m_choosePath;
};

// The "All Data" command: fills `lists` from the table with the DEC/HEX choice of the
// moment, builds the report in the run's language and shows it in the run's one report
// window (created on first use), refreshed with the fresh data.
// With an instrument profile the unit column shows each item's unit.
ReportWindow* showAllData(QWidget* parent, const ItemTable& table, bool hex, ListArrays& lists,
                          const InstrumentProfile* profile = nullptr);
ReportWindow* showAllData(QWidget* parent, const ItemTable& table, bool hex,
                          const InstrumentProfile* profile = nullptr);

} // namespace pmx
