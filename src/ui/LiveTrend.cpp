#include "ui/LiveTrend.h"

#include "model/ItemTable.h"
#include "text/StringTable.h"
#include "ui/Colours.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace pmx {

LiveTrend::LiveTrend(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("SubDisp_trend"));
    setWindowTitle(strings::text(TextId::WatchTrend));
    auto* layout = new QVBoxLayout(this);
    m_chart = new QChart;
    // Beside the plot, one item a line: the item names stay whole.
    m_chart->legend()->setAlignment(Qt::AlignRight);
    // The theme's own colours: the chart reads on a light and on a dark desktop alike.
    m_chart->setTheme(isDarkPalette(palette()) ? QChart::ChartThemeDark : QChart::ChartThemeLight);
    m_chart->setBackgroundBrush(palette().color(QPalette::Base));
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_time = new QDateTimeAxis;
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTitleText(strings::text(TextId::WatchTime));
    m_time->setTickCount(6);
    m_values = new QValueAxis;
    m_values->setLabelFormat(QStringLiteral("%d"));
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_values, Qt::AlignLeft);
    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("Chart_trend"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(520, 280);
    m_view->setAccessibleName(strings::text(TextId::WatchTrend));
    layout->addWidget(m_view);
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("Label_trend"));
    m_note->setVisible(false);
    layout->addWidget(m_note);
    resize(720, 380);
}

void LiveTrend::setNote(const QString& text) {
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
}

void LiveTrend::addRound(const QDateTime& when, const QMap<int, qint16>& values,
                         const QMap<int, QString>& labels) {
    const qreal x = qreal(when.toMSecsSinceEpoch());
    const qreal oldest = x - kSpanSeconds * 1000.0;
    bool added = false;
    for (auto it = values.begin(); it != values.end(); ++it) {
        QLineSeries*& series = m_series[it.key()];
        if (!series) {
            series = new QLineSeries;
            m_chart->addSeries(series);
            series->attachAxis(m_time);
            series->attachAxis(m_values);
            added = true;
        }
        series->setName(labels.value(it.key(), itemAddressText(it.key()) + QLatin1Char('h')));
        series->append(x, it.value());
        // Points older than the span go: the trend keeps a few minutes, not the whole day.
        qsizetype old = 0;
        const QList<QPointF> pts = series->points();
        while (old < pts.size() && pts[old].x() < oldest)
            ++old;
        if (old > 0)
            series->removePoints(0, int(old));
    }
    fitAxes(when);
    if (added) {
        // The chart makes room for the time axis's labels only when the axis changes
        // after its first line is attached: without this the axis stays hidden.
        m_time->setTitleText(QString());
        m_time->setTitleText(strings::text(TextId::WatchTime));
    }
}

void LiveTrend::fitAxes(const QDateTime& now) {
    qreal low = 0, high = 0;
    qreal first = qreal(now.toMSecsSinceEpoch());
    bool any = false;
    for (QLineSeries* s : std::as_const(m_series)) {
        for (const QPointF& p : s->points()) {
            low = any ? std::min(low, p.y()) : p.y();
            high = any ? std::max(high, p.y()) : p.y();
            first = std::min(first, p.x());
            any = true;
        }
    }
    if (!any)
        return;
    // A little room above and below; a flat line gets a band around it. Round figures on
    // the axis read more easily than the extremes themselves.
    const qreal pad = std::max<qreal>(1, (high - low) * 0.08);
    m_values->setRange(low - pad, high + pad);
    m_values->applyNiceNumbers();
    // From the oldest point kept (at least half a minute back) to now: the lines fill the
    // chart from the first round on, and the span grows to its few minutes.
    const QDateTime start =
        std::min(QDateTime::fromMSecsSinceEpoch(qint64(first)), now.addSecs(-kMinSpanSeconds));
    m_time->setRange(start, now);
}

QList<QPointF> LiveTrend::points(int item) const {
    const QLineSeries* s = m_series.value(item);
    return s ? s->points() : QList<QPointF>();
}

} // namespace pmx
