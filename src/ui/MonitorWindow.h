#pragma once
#include "comm/ExchangeRecord.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QTimer>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace pmx {

// The rows of the communication monitor over an ExchangeLog: one row per exchange, from
// the oldest the log still holds. The rows follow the log only when catchUp is called, so
// a paused view keeps what it shows while the log goes on recording.
class ExchangeTableModel : public QAbstractTableModel {
  public:
    enum Column {
        Time,
        Protocol,
        Meaning,
        Outcome,
        Tries,
        RoundTrip,
        Request,
        RequestCharacters,
        Answer,
        AnswerCharacters,
        ColumnCount
    };
    // What a request means in the window's terms (item name, value in DEC or HEX).
    using Describer = std::function<QString(const ExchangeRecord&)>;

    ExchangeTableModel(ExchangeLog& log, Describer describe, QObject* parent = nullptr);

    // Takes in the records added since, and lets go of those the ring dropped.
    void catchUp();
    // Empties the log and the rows.
    void clear();
    // The meanings changed (DEC/HEX, item names).
    void meaningsChanged();

    // Null for a row whose record the ring has already dropped (a paused view).
    const ExchangeRecord* record(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    ExchangeLog& m_log;
    Describer m_describe;
    qint64 m_first = 0; // sequence number of row 0 (counted from the last clear)
    int m_rows = 0;
    qint64 m_marks = 0; // the log's marks() when the rows last caught up
};

// The outcome of an exchange in the run's language.
QString outcomeText(const ExchangeRecord& record);
// Good and broadcast are not failures; everything else is, a verify mismatch included.
bool isFailure(const ExchangeRecord& record);

// The communication monitor: the exchanges as they happen, counters over all of them,
// Pause, Clear, "failures only" and Save as text. Not modal; it lives beside the main
// window.
class MonitorWindow : public QDialog {
  public:
    // `askPath` chooses the file Save writes (empty: cancelled); `tellError` reports a
    // failed save.
    MonitorWindow(ExchangeLog& log, ExchangeTableModel::Describer describe,
                  std::function<QString()> askPath, std::function<void(const QString&)> tellError,
                  QWidget* parent = nullptr);

    // The log has a new record (or was cleared): the rows and counters follow at the next
    // refresh, at most kRefreshMs later, so that a fast transfer is not slowed by drawing.
    void logChanged();
    // Takes in what the log has now (unless paused).
    void refresh();
    static constexpr int kRefreshMs = 200;
    void meaningsChanged();

    bool paused() const;
    void setPaused(bool on);
    void setFailuresOnly(bool on);
    void clear();
    // The rows on show (after the failures filter), tab-separated under a header and the
    // counters line. False with *error when the file cannot be written.
    bool saveText(const QString& path, QString* error) const;
    void save();

    int shownRows() const;
    QString countersText() const;
    ExchangeTableModel* model() const { return m_model; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void showCounters();
    // Late answers and an echoing line, a line each under the counters.
    static QString lineNotes(const ExchangeLog::Counters& counters);

    ExchangeLog& m_log;
    QTimer m_refreshTimer;
    std::function<QString()> m_askPath;
    std::function<void(const QString&)> m_tellError;
    ExchangeTableModel* m_model;
    QSortFilterProxyModel* m_filter;
    QLabel* m_counters;
    QTableView* m_table;
    QPushButton* m_pauseButton;
    QPushButton* m_clearButton;
    QCheckBox* m_failuresBox;
    QPushButton* m_saveButton;
};

} // namespace pmx
