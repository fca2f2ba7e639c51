#pragma once
// The trend of the watched live items: one line per item over the last minutes, so that
// an operator sees the measured value move while changing a set value.
#include <QDateTime>
#include <QMap>
#include <QWidget>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QValueAxis;

namespace pmx {

class LiveTrend : public QWidget {
    Q_OBJECT
  public:
    // How far back the trend reaches.
    static constexpr int kSpanSeconds = 300;
    // The least the time axis shows, so the first rounds are not squeezed to a point.
    static constexpr int kMinSpanSeconds = 30;

    explicit LiveTrend(QWidget* parent = nullptr);

    // One round of readings: item -> value, at `when`. Items not in `values` keep their
    // line without a new point.
    void addRound(const QDateTime& when, const QMap<int, qint16>& values,
                  const QMap<int, QString>& labels);
    // The points of an item's line, oldest first (tests look at them).
    QList<QPointF> points(int item) const;
    // The status text under the chart ("No live item is selected." or empty).
    void setNote(const QString& text);

  private:
    void fitAxes(const QDateTime& now);

    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QDateTimeAxis* m_time = nullptr;
    QValueAxis* m_values = nullptr;
    QLabel* m_note = nullptr;
    QMap<int, QLineSeries*> m_series;
};

} // namespace pmx
