#pragma once
#include "report/ReportModel.h"
#include <QList>
#include <QPageLayout>

class QPainter;
class QPagedPaintDevice;

namespace pmx {

// Makes a PDF's text layer give back the characters drawn (the writer maps some glyphs
// to other characters); every PDF the program writes goes through it.
void correctTextLayer(QByteArray& pdf);

// Report geometry in twips (1440 per inch), the unit the layout is designed in.
namespace twips {
constexpr int kPerInch = 1440;
constexpr int kReportWidth = 9000;
constexpr int kMargin = 1440;
constexpr int kReportHeader = 630; // Section4
constexpr int kPageHeader = 480;   // Section2
constexpr int kOuterHeader = 510;  // Section6, "Parameter" box
constexpr int kInnerHeader = 630;  // Section8, column headings
constexpr int kDetail = 360;       // Section1, one parameter row
constexpr int kInnerFooter = 0;    // Section9
constexpr int kOuterFooter = 0;    // Section7
constexpr int kPageFooter = 735;   // Section3
constexpr int kReportFooter = 503; // Section5
} // namespace twips

// Where each band of the report falls. Pages are measured inside the margins.
struct ReportBand {
    enum Kind {
        ReportHeader,
        PageHeader,
        OuterHeader,
        InnerHeader,
        Detail,
        PageFooter,
        ReportFooter
    };
    Kind kind;
    int top = 0;  // twips from the top of the printable area
    int row = -1; // parameter row of a Detail band
};
using ReportPage = QList<ReportBand>;

// Draws the all-data list with QPainter on printers, PDF writers and images. Bands follow
// one another down the page; the page header and footer repeat on every page, the
// report header opens page 1, a header never ends a page without the row it introduces.
class ReportRenderer {
  public:
    explicit ReportRenderer(const ReportModel& model);
    // The renderer keeps a reference to the model: a temporary would be gone before the
    // first page is drawn.
    ReportRenderer(const ReportModel&&) = delete;

    // Splits the report into pages whose printable area is `pageHeight` twips high.
    void paginate(int pageHeight);
    const QList<ReportPage>& pages() const { return m_pages; }
    int pageCount() const { return int(m_pages.size()); }

    // Draws page `index` (0-based) with the painter set up in twips, origin at the
    // top-left corner of the printable area.
    void drawPage(QPainter& painter, int index) const;

    // Paginates for the device's page layout and draws every page (on a QPrinter only the
    // page range the operator chose). False when the device cannot be painted on.
    bool render(QPagedPaintDevice* device);

    // Page count the report has on paper of this layout.
    static int pageCount(const ReportModel& model, const QPageLayout& layout);
    static bool render(QPagedPaintDevice* device, const ReportModel& model);
    // Writes the report as a PDF. The file appears only when complete; false and `error`
    // filled otherwise.
    static bool renderPdf(const ReportModel& model, const QString& path, QString* error = nullptr,
                          const QPageLayout& layout = defaultPageLayout());
    // The PDF's bytes, for a stream (standard output); false and `error` filled when the
    // report could not be drawn.
    static bool renderPdf(const ReportModel& model, QByteArray* pdf, QString* error = nullptr,
                          const QPageLayout& layout = defaultPageLayout());

    // Portrait paper of the system's measurement system (Letter in the US, A4 elsewhere)
    // with the report's one-inch margins.
    static QPageLayout defaultPageLayout();
    // Sets the report's one-inch margins on a layout, keeping its paper and orientation.
    static QPageLayout withReportMargins(QPageLayout layout);

    // Text of the page footer's left label for page `index` (0-based).
    QString pageLabel(int index) const;

  private:
    void drawBand(QPainter& painter, const ReportBand& band, int pageIndex) const;
    void drawLogo(QPainter& painter, const QRectF& box) const;

    const ReportModel& m_model;
    QList<ReportPage> m_pages;
    QString m_date;
};

} // namespace pmx
