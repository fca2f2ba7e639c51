#include "report/render/CommissioningPdf.h"

#include "model/AtomicFile.h"
#include "report/render/ReportRenderer.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>

namespace pmx {

namespace {

// Layout in points of the page's printable area (portrait, the report's margins).
constexpr qreal kBody = 8;
constexpr qreal kTitle = 16;
constexpr qreal kRow = 13;
// Share of the width per column: time, instrument, item, name, before, written, after,
// outcome.
constexpr qreal kColumns[] = {0.17, 0.07, 0.07, 0.26, 0.09, 0.09, 0.09, 0.16};

QFont sheetFont(strings::Lang lang, qreal points, bool bold = false) {
    QFont f;
    if (lang == strings::Lang::Japanese)
        f.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Yu Gothic"),
                       QStringLiteral("Meiryo")});
    else
        f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Arial"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("Noto Sans CJK JP")});
    f.setStyleHint(QFont::SansSerif);
    // As in the report: the text layer maps every glyph drawn back to its character.
    f.setStyleStrategy(QFont::PreferNoShaping);
    // The painter works in points, so the size in points is the size in its units.
    f.setPixelSize(qRound(points));
    f.setBold(bold);
    return f;
}

void drawCell(QPainter& p, const QRectF& box, const QString& text, Qt::Alignment align) {
    const QFontMetricsF fm(p.font());
    p.drawText(box.adjusted(2, 0, -2, 0), int(align | Qt::AlignVCenter | Qt::TextSingleLine),
               fm.elidedText(text, Qt::ElideRight, box.width() - 4));
}

bool draw(const CommissioningSheet& s, QPdfWriter& writer) {
    QPainter p;
    if (!p.begin(&writer))
        return false;
    // Points from here on.
    const qreal scale = writer.resolution() / 72.0;
    p.scale(scale, scale);
    const QRectF page = writer.pageLayout().paintRect(QPageLayout::Point);
    const qreal width = page.width();
    const qreal bottom = page.height() - 2 * kRow; // room for the footer
    const auto columnsAt = [&](qreal y, const QStringList& cells, bool bold) {
        p.setFont(sheetFont(s.lang, kBody, bold));
        qreal x = 0;
        for (qsizetype c = 0; c < cells.size() && c < qsizetype(std::size(kColumns)); ++c) {
            const qreal w = kColumns[c] * width;
            const bool number = c == 1 || (c >= 4 && c <= 6);
            drawCell(p, QRectF(x, y, w, kRow), cells[c], number ? Qt::AlignRight : Qt::AlignLeft);
            x += w;
        }
        p.fillRect(QRectF(0, y + kRow - 0.3, width, 0.3), QColor(0xC0, 0xC0, 0xC0));
    };
    // Rows per page: the first page has the title and the header above them.
    const qreal headerHeight = kTitle * 2 + kRow * (s.header.size() + 1);
    const int firstRows = std::max(1, int((bottom - headerHeight - kRow) / kRow));
    const int laterRows = std::max(1, int((bottom - kRow) / kRow));
    const qsizetype rest = std::max<qsizetype>(0, s.rows.size() - firstRows);
    const int pages = 1 + int((rest + laterRows - 1) / laterRows);
    qsizetype row = 0;
    for (int n = 0; n < pages; ++n) {
        if (n > 0 && !writer.newPage())
            return false;
        qreal y = 0;
        if (n == 0) {
            p.setFont(sheetFont(s.lang, kTitle, true));
            p.drawText(QRectF(0, 0, width, kTitle * 1.5), Qt::AlignLeft | Qt::AlignVCenter,
                       s.title);
            y = kTitle * 2;
            for (const auto& [caption, value] : s.header) {
                p.setFont(sheetFont(s.lang, kBody, true));
                drawCell(p, QRectF(0, y, width * 0.2, kRow), caption, Qt::AlignLeft);
                p.setFont(sheetFont(s.lang, kBody));
                drawCell(p, QRectF(width * 0.2, y, width * 0.8, kRow), value, Qt::AlignLeft);
                y += kRow;
            }
            y += kRow;
            if (s.rows.isEmpty()) {
                p.setFont(sheetFont(s.lang, kBody));
                drawCell(p, QRectF(0, y, width, kRow),
                         strings::text(TextId::CommissioningNone, s.lang), Qt::AlignLeft);
            }
        }
        columnsAt(y, s.columns, true);
        y += kRow;
        const int count = n == 0 ? firstRows : laterRows;
        for (int k = 0; k < count && row < s.rows.size(); ++k, ++row, y += kRow)
            columnsAt(y, s.rows[row], false);
        p.setFont(sheetFont(s.lang, kBody));
        drawCell(p, QRectF(0, page.height() - kRow, width, kRow),
                 s.title + QStringLiteral("  ") +
                     strings::text(TextId::CommissioningPage, s.lang).arg(n + 1).arg(pages),
                 Qt::AlignRight);
    }
    return p.end();
}

} // namespace

bool commissioningPdf(const CommissioningSheet& sheet, QByteArray* pdf, QString* error) {
    pdf->clear();
    bool drawn = false;
    {
        QBuffer buffer(pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageLayout(ReportRenderer::defaultPageLayout());
        writer.setTitle(sheet.title);
        writer.setCreator(QStringLiteral("PMX-31570A"));
        drawn = draw(sheet, writer);
    }
    if (!drawn) {
        pdf->clear();
        if (error)
            *error = strings::text(TextId::PdfNotWritten);
        return false;
    }
    correctTextLayer(*pdf);
    return true;
}

bool commissioningPdf(const CommissioningSheet& sheet, const QString& path, QString* error) {
    QByteArray pdf;
    return commissioningPdf(sheet, &pdf, error) && writeFileAtomically(path, pdf, error);
}

} // namespace pmx
