#include "report/render/ReportRenderer.h"
#include <QFontMetricsF>
#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>

namespace pmx {

namespace {

// Column geometry of the detail rows and their headings (twips).
constexpr int kPad = 120;
constexpr int kItemLeft = kPad;
constexpr int kItemRight = 5880;
constexpr int kDataLeft = 6000;
constexpr int kDataRight = 7560;
constexpr int kUnitLeft = 7680;
constexpr int kUnitRight = twips::kReportWidth - kPad;

// Font sizes in twips (20 per point); fonts are sized in pixels of the twip-scaled painter.
constexpr int kTitleSize = 280;   // 14 pt
constexpr int kBoxSize = 220;     // 11 pt
constexpr int kBodySize = 200;    // 10 pt
constexpr int kAddressSize = 160; // 8 pt
constexpr int kFooterSize = 180;  // 9 pt

const QColor kBarColour(0x33, 0x33, 0x33);
const QColor kRuleColour(0xC0, 0xC0, 0xC0);
const QColor kBoxFill(0xEE, 0xEE, 0xEE);

QFont reportFont(strings::Lang lang, int size, bool bold = false) {
    QFont f;
    // A Japanese face first on a Japanese run so kana and kanji share one design; other
    // scripts fall back through the system's font matching.
    if (lang == strings::Lang::Japanese)
        f.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Yu Gothic"),
                       QStringLiteral("Meiryo"), QStringLiteral("MS UI Gothic")});
    else
        f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Arial"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("Noto Sans CJK JP")});
    f.setStyleHint(QFont::SansSerif);
    // Without shaping, every glyph drawn is the font's own glyph for its character. With
    // it, the Japanese face swaps in alternate digits that the PDF's text layer cannot map
    // back, and the digits vanish from copied or searched text.
    f.setStyleStrategy(QFont::PreferNoShaping);
    f.setPixelSize(size);
    f.setBold(bold);
    return f;
}

// Draws text in the box, cut with an ellipsis when it is wider than the box.
void drawFitted(QPainter& p, const QRectF& box, Qt::Alignment align, const QString& text) {
    const QFontMetricsF fm(p.font());
    const QString shown = fm.elidedText(text, Qt::ElideRight, box.width());
    p.drawText(box, int(align | Qt::AlignVCenter | Qt::TextSingleLine), shown);
}

void hRule(QPainter& p, qreal y, qreal thickness, const QColor& colour) {
    p.fillRect(QRectF(0, y, twips::kReportWidth, thickness), colour);
}

int heightOf(ReportBand::Kind kind) {
    switch (kind) {
    case ReportBand::ReportHeader:
        return twips::kReportHeader;
    case ReportBand::PageHeader:
        return twips::kPageHeader;
    case ReportBand::OuterHeader:
        return twips::kOuterHeader;
    case ReportBand::InnerHeader:
        return twips::kInnerHeader;
    case ReportBand::Detail:
        return twips::kDetail;
    case ReportBand::PageFooter:
        return twips::kPageFooter;
    case ReportBand::ReportFooter:
        return twips::kReportFooter;
    }
    return 0;
}

int toTwips(qreal points) {
    return qRound(points * 20.0);
}

} // namespace

ReportRenderer::ReportRenderer(const ReportModel& model)
    : m_model(model), m_date(model.footerDateText()) {}

void ReportRenderer::paginate(int pageHeight) {
    m_pages.clear();
    const int rows = int(m_model.parameterRows().size());
    const int bodyEnd = pageHeight - twips::kPageFooter;

    ReportPage page;
    int y = 0;
    bool pageHasBody = false;
    auto startPage = [&](bool first) {
        page.clear();
        y = 0;
        pageHasBody = false;
        if (first) {
            page.append({ReportBand::ReportHeader, y});
            y += twips::kReportHeader;
        }
        page.append({ReportBand::PageHeader, y});
        y += twips::kPageHeader;
    };
    auto finishPage = [&]() {
        page.append({ReportBand::PageFooter, bodyEnd});
        m_pages.append(page);
    };
    // `keep` is the room the band needs below it on the same page. A band too tall for
    // even an empty page is placed anyway rather than paging forever.
    auto place = [&](ReportBand::Kind kind, int row, int keep) {
        const int h = heightOf(kind);
        if (y + h + keep > bodyEnd && pageHasBody) {
            finishPage();
            startPage(false);
        }
        page.append({kind, y, row});
        y += h;
        pageHasBody = true;
    };

    startPage(true);
    const int firstRow = rows > 0 ? twips::kDetail : 0;
    place(ReportBand::OuterHeader, -1, twips::kInnerHeader + firstRow);
    place(ReportBand::InnerHeader, -1, firstRow);
    for (int r = 0; r < rows; ++r)
        place(ReportBand::Detail, r, 0);
    // The group footers have no height and never move anything.
    place(ReportBand::ReportFooter, -1, 0);
    finishPage();
}

QString ReportRenderer::pageLabel(int index) const {
    return QString::fromLatin1(strings::kPageFooter)
        .replace(QLatin1String("%p"), QString::number(index + 1))
        .replace(QLatin1String("%P"), QString::number(pageCount()));
}

void ReportRenderer::drawPage(QPainter& painter, int index) const {
    if (index < 0 || index >= m_pages.size())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const ReportBand& band : m_pages[index])
        drawBand(painter, band, index);
    painter.restore();
}

void ReportRenderer::drawBand(QPainter& p, const ReportBand& band, int pageIndex) const {
    const ReportCaptions& c = m_model.captions();
    const strings::Lang lang = m_model.language();
    const qreal w = twips::kReportWidth;
    p.save();
    p.translate(0, band.top);
    p.setClipRect(QRectF(0, 0, w, heightOf(band.kind)));
    p.setPen(Qt::black);
    switch (band.kind) {
    case ReportBand::ReportHeader:
        p.setFont(reportFont(lang, kAddressSize));
        drawFitted(p, QRectF(0, 45, w, 270), Qt::AlignRight, c.makerAddress);
        drawFitted(p, QRectF(0, 315, w, 270), Qt::AlignRight, c.makerPhone);
        break;
    case ReportBand::PageHeader:
        p.setFont(reportFont(lang, kTitleSize, true));
        drawFitted(p, QRectF(0, 0, w, 390), Qt::AlignLeft, c.title);
        hRule(p, 405, 30, kBarColour);
        break;
    case ReportBand::OuterHeader: {
        const QRectF box(0, 60, w, 390);
        p.setPen(QPen(kBarColour, 15));
        p.setBrush(kBoxFill);
        p.drawRect(box);
        p.setPen(Qt::black);
        p.setFont(reportFont(lang, kBoxSize, true));
        drawFitted(p, box.adjusted(kPad, 0, -kPad, 0), Qt::AlignHCenter, c.parameterBox);
        break;
    }
    case ReportBand::InnerHeader:
        hRule(p, 90, 15, kBarColour);
        p.setFont(reportFont(lang, kBodySize, true));
        drawFitted(p, QRectF(kItemLeft, 135, kItemRight - kItemLeft, 360), Qt::AlignLeft,
                   c.itemHeading);
        drawFitted(p, QRectF(kDataLeft - 600, 135, kDataRight - kDataLeft + 600, 360),
                   Qt::AlignRight, c.valueHeading);
        // The unit heading stays empty: no item carries a unit.
        hRule(p, 525, 15, kBarColour);
        break;
    case ReportBand::Detail: {
        const ParameterRow& row = m_model.parameterRows().at(band.row);
        p.setFont(reportFont(lang, kBodySize));
        const qreal h = twips::kDetail - 15;
        drawFitted(p, QRectF(kItemLeft, 0, kItemRight - kItemLeft, h), Qt::AlignLeft, row.name);
        drawFitted(p, QRectF(kDataLeft, 0, kDataRight - kDataLeft, h), Qt::AlignRight, row.value);
        drawFitted(p, QRectF(kUnitLeft, 0, kUnitRight - kUnitLeft, h), Qt::AlignLeft, row.unit);
        hRule(p, twips::kDetail - 15, 15, kRuleColour);
        break;
    }
    case ReportBand::PageFooter: {
        hRule(p, 0, 30, kBarColour);
        p.setFont(reportFont(lang, kFooterSize));
        drawFitted(p, QRectF(0, 120, 3600, 495), Qt::AlignLeft, pageLabel(pageIndex));
        drawFitted(p, QRectF(5400, 120, 3600, 495), Qt::AlignRight, m_date);
        drawLogo(p, QRectF(w / 2 - 240, 127, 480, 480));
        break;
    }
    case ReportBand::ReportFooter:
        break;
    }
    p.restore();
}

// A small neutral mark of our own: a rounded frame holding three rising bars.
void ReportRenderer::drawLogo(QPainter& p, const QRectF& box) const {
    p.save();
    p.setPen(QPen(kBarColour, 24));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box.adjusted(12, 12, -12, -12), 80, 80);
    const qreal barW = box.width() * 0.16;
    const qreal gap = box.width() * 0.08;
    const qreal base = box.bottom() - box.height() * 0.22;
    qreal x = box.left() + (box.width() - 3 * barW - 2 * gap) / 2;
    const qreal heights[] = {0.22, 0.38, 0.54};
    for (qreal fraction : heights) {
        const qreal h = box.height() * fraction;
        p.fillRect(QRectF(x, base - h, barW, h), kBarColour);
        x += barW + gap;
    }
    p.restore();
}

bool ReportRenderer::render(QPagedPaintDevice* device) {
    if (!device)
        return false;
    paginate(toTwips(device->pageLayout().paintRect(QPageLayout::Point).height()));
    const int dpi = device->logicalDpiY();

    int from = 1;
    int to = pageCount();
    if (auto* printer = dynamic_cast<QPrinter*>(device)) {
        if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
            from = qMax(1, printer->fromPage());
            to = qMin(to, printer->toPage() > 0 ? printer->toPage() : to);
        }
    }
    if (from > to)
        return true;

    QPainter painter;
    if (!painter.begin(device))
        return false;
    const qreal sx = qreal(device->logicalDpiX()) / twips::kPerInch;
    const qreal sy = qreal(dpi) / twips::kPerInch;
    for (int i = from - 1; i < to; ++i) {
        if (i > from - 1 && !device->newPage())
            break;
        painter.save();
        painter.scale(sx, sy);
        drawPage(painter, i);
        painter.restore();
    }
    return painter.end();
}

int ReportRenderer::pageCount(const ReportModel& model, const QPageLayout& layout) {
    ReportRenderer r(model);
    r.paginate(toTwips(layout.paintRect(QPageLayout::Point).height()));
    return r.pageCount();
}

bool ReportRenderer::render(QPagedPaintDevice* device, const ReportModel& model) {
    ReportRenderer r(model);
    return r.render(device);
}

QPageLayout ReportRenderer::defaultPageLayout() {
    const bool us = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
    return withReportMargins(QPageLayout(QPageSize(us ? QPageSize::Letter : QPageSize::A4),
                                         QPageLayout::Portrait, QMarginsF()));
}

QPageLayout ReportRenderer::withReportMargins(QPageLayout layout) {
    const qreal inch = 72.0;
    layout.setUnits(QPageLayout::Point);
    layout.setMinimumMargins(QMarginsF());
    layout.setMargins(QMarginsF(inch, inch, inch, inch));
    return layout;
}

} // namespace pmx
