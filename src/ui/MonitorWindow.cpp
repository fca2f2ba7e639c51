#include "ui/MonitorWindow.h"

#include "comm/Conditions.h"
#include "comm/LineNotes.h"
#include "model/AtomicFile.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/Colours.h"
#include "ui/FittingScrollArea.h"

#include <QBrush>
#include <QCheckBox>
#include <QDateTime>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

namespace pmx {

namespace {

QString protocolText(qint16 protocol) {
    switch (protocol) {
    case kProtocolKorvan:
        return QStringLiteral("KORVAN");
    case kProtocolModbusAscii:
        return QStringLiteral("Modbus ASCII");
    case kProtocolModbusRtu:
        return QStringLiteral("Modbus RTU");
    default:
        return QStringLiteral("?");
    }
}

// What the operator looks for first on the left, the bytes on the right.
constexpr TextId kHeaders[ExchangeTableModel::ColumnCount] = {
    TextId::ColumnTime,   TextId::Protocol,        TextId::ColumnMeaning, TextId::ColumnOutcome,
    TextId::ColumnTries,  TextId::ColumnRoundTrip, TextId::ColumnRequest, TextId::ColumnCharacters,
    TextId::ColumnAnswer, TextId::ColumnCharacters};

// Shows only the failures when asked to.
class FailureFilter : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setFailuresOnly(bool on) {
        m_failuresOnly = on;
        invalidateFilter();
    }

  protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override {
        if (!m_failuresOnly)
            return true;
        const auto* model = static_cast<const ExchangeTableModel*>(sourceModel());
        const ExchangeRecord* r = model->record(row);
        return r && isFailure(*r);
    }

  private:
    bool m_failuresOnly = false;
};

} // namespace

QString outcomeText(const ExchangeRecord& record) {
    using strings::text;
    switch (record.outcome) {
    case ExchangeOutcome::Good:
        return text(TextId::OutcomeGood);
    case ExchangeOutcome::Refused:
        return text(record.protocol == kProtocolKorvan ? TextId::OutcomeNak
                                                       : TextId::OutcomeException)
            .arg(record.refusalCode);
    case ExchangeOutcome::ChecksumError:
        return text(TextId::OutcomeChecksum);
    case ExchangeOutcome::NoAnswer:
        return text(TextId::OutcomeNoAnswer);
    case ExchangeOutcome::Stale:
        return text(TextId::OutcomeStale);
    case ExchangeOutcome::DeviceLost:
        return text(TextId::OutcomeDeviceLost);
    case ExchangeOutcome::Broadcast:
        return text(TextId::OutcomeBroadcast);
    case ExchangeOutcome::VerifyMismatch:
        return text(TextId::OutcomeVerifyMismatch).arg(record.wrote).arg(record.holds);
    }
    return {};
}

bool isFailure(const ExchangeRecord& record) {
    return record.outcome != ExchangeOutcome::Good && record.outcome != ExchangeOutcome::Broadcast;
}

// ---- the rows ------------------------------------------------------------------

ExchangeTableModel::ExchangeTableModel(ExchangeLog& log, Describer describe, QObject* parent)
    : QAbstractTableModel(parent), m_log(log), m_describe(std::move(describe)) {
    catchUp();
}

void ExchangeTableModel::catchUp() {
    if (m_marks != m_log.marks()) {
        // A record on show became a verify mismatch: its outcome and colour change.
        m_marks = m_log.marks();
        if (m_rows > 0)
            emit dataChanged(index(0, 0), index(m_rows - 1, ColumnCount - 1));
    }
    const qint64 dropped = m_log.dropped();
    const qint64 total = dropped + m_log.size();
    if (total < m_first + m_rows) { // cleared behind our back: start again
        beginResetModel();
        m_first = dropped;
        m_rows = int(m_log.size());
        endResetModel();
        return;
    }
    const qint64 gone = std::min<qint64>(dropped - m_first, m_rows);
    if (gone > 0) {
        beginRemoveRows({}, 0, int(gone) - 1);
        m_first += gone;
        m_rows -= int(gone);
        endRemoveRows();
    }
    if (m_rows == 0)
        m_first = std::max(m_first, dropped);
    const qint64 end = m_first + m_rows;
    if (total > end) {
        beginInsertRows({}, m_rows, int(total - m_first) - 1);
        m_rows = int(total - m_first);
        endInsertRows();
    }
}

void ExchangeTableModel::clear() {
    beginResetModel();
    m_log.clear();
    m_first = 0;
    m_rows = 0;
    endResetModel();
}

void ExchangeTableModel::meaningsChanged() {
    if (m_rows > 0)
        emit dataChanged(index(0, Meaning), index(m_rows - 1, Meaning));
}

const ExchangeRecord* ExchangeTableModel::record(int row) const {
    const qint64 at = m_first + row - m_log.dropped();
    if (row < 0 || row >= m_rows || at < 0 || at >= m_log.size())
        return nullptr;
    return &m_log.at(at);
}

int ExchangeTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int ExchangeTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ExchangeTableModel::data(const QModelIndex& index, int role) const {
    const ExchangeRecord* r = record(index.row());
    if (!r)
        return {};
    if (role == Qt::ForegroundRole)
        return isFailure(*r) ? QVariant(QBrush(toneColour(Tone::Failure, QGuiApplication::palette(),
                                                          QPalette::Base)))
                             : QVariant();
    // The line worked but the value was not kept: the ground of a differing value, as in
    // the comparison with the instrument.
    if (role == Qt::BackgroundRole)
        return r->outcome == ExchangeOutcome::VerifyMismatch
                   ? QVariant(QBrush(differenceGround(QGuiApplication::palette())))
                   : QVariant();
    if (role == Qt::TextAlignmentRole && (index.column() == Tries || index.column() == RoundTrip))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(r->timeMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    case Protocol:
        return protocolText(r->protocol);
    case Request:
        return hexBytes(r->request);
    case RequestCharacters:
        return printableBytes(r->request, r->protocol);
    case Answer:
        return hexBytes(r->answer);
    case AnswerCharacters:
        return printableBytes(r->answer, r->protocol);
    case Meaning:
        return m_describe ? m_describe(*r) : QString();
    case Outcome:
        return outcomeText(*r);
    case Tries:
        return r->attempts;
    case RoundTrip:
        return QString::number(r->roundTripMs, 'f', 1);
    default:
        return {};
    }
}

QVariant ExchangeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return strings::text(kHeaders[section]);
}

// ---- the window ----------------------------------------------------------------

MonitorWindow::MonitorWindow(ExchangeLog& log, ExchangeTableModel::Describer describe,
                             std::function<QString()> askPath,
                             std::function<void(const QString&)> tellError, QWidget* parent)
    : QDialog(parent), m_log(log), m_askPath(std::move(askPath)),
      m_tellError(std::move(tellError)) {
    setObjectName(QStringLiteral("SubDisp_monitor"));
    setWindowTitle(strings::text(TextId::MonitorTitle));
    setModal(false);

    m_model = new ExchangeTableModel(log, std::move(describe), this);
    auto* filter = new FailureFilter(this);
    filter->setSourceModel(m_model);
    m_filter = filter;

    auto* layout = new QVBoxLayout(this);
    m_counters = new QLabel(this);
    m_counters->setObjectName(QStringLiteral("Label_counters"));
    layout->addWidget(m_counters);

    auto* buttons = new QHBoxLayout;
    m_pauseButton = new QPushButton(this);
    m_pauseButton->setObjectName(QStringLiteral("Command_pause"));
    a11y::setCaption(m_pauseButton, TextId::MonitorPause, 'P');
    m_pauseButton->setCheckable(true);
    m_clearButton = new QPushButton(this);
    m_clearButton->setObjectName(QStringLiteral("Command_clear"));
    a11y::setCaption(m_clearButton, TextId::MonitorClear, 'C');
    m_failuresBox = new QCheckBox(this);
    m_failuresBox->setObjectName(QStringLiteral("Check_failures"));
    a11y::setCaption(m_failuresBox, TextId::MonitorFailuresOnly, 'F');
    m_saveButton = new QPushButton(this);
    m_saveButton->setObjectName(QStringLiteral("Command_save"));
    a11y::setCaption(m_saveButton, TextId::MonitorSave, 'S');
    buttons->addWidget(m_pauseButton);
    buttons->addWidget(m_clearButton);
    buttons->addWidget(m_failuresBox);
    buttons->addStretch(1);
    buttons->addWidget(m_saveButton);
    layout->addLayout(buttons);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("Table_exchanges"));
    m_table->setAccessibleName(strings::text(TextId::ExchangesTable));
    m_table->setModel(m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->setVisible(false);
    // Rows of one height need no measuring: thousands of rows stay cheap.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int w = QFontMetrics(m_table->font()).horizontalAdvance(QLatin1Char('0'));
    const int widths[ExchangeTableModel::ColumnCount] = {12, 12, 40, 40, 5, 14, 34, 20, 46, 24};
    for (int c = 0; c < ExchangeTableModel::ColumnCount; ++c)
        m_table->setColumnWidth(c, widths[c] * w + 12);
    layout->addWidget(m_table, 1);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] { refresh(); });
    connect(m_pauseButton, &QPushButton::toggled, this, [this](bool on) { setPaused(on); });
    connect(m_clearButton, &QPushButton::clicked, this, [this] { clear(); });
    connect(m_failuresBox, &QCheckBox::toggled, this, [this](bool on) { setFailuresOnly(on); });
    connect(m_saveButton, &QPushButton::clicked, this, [this] { save(); });
    showCounters();
    // Wide enough for the bytes of a whole exchange, within the screen: the rows scroll.
    fitWindowToScreen(this, nullptr, QSize(1100, 480));
}

void MonitorWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Opened, or brought back: at the newest exchange, which is what the operator looks for.
    if (!paused())
        m_model->catchUp();
    showCounters();
    m_table->scrollToBottom();
}

void MonitorWindow::logChanged() {
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void MonitorWindow::refresh() {
    m_refreshTimer.stop();
    if (paused())
        return;
    QScrollBar* bar = m_table->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_model->catchUp();
    const QString before = m_counters->text();
    showCounters();
    if (atEnd)
        m_table->scrollToBottom();
    // The counters as they change, at a pace a listener can follow.
    if (m_counters->text() != before)
        a11y::announce(m_counters, m_counters->text(), a11y::Urgency::Progress);
}

void MonitorWindow::meaningsChanged() {
    m_model->meaningsChanged();
}

bool MonitorWindow::paused() const {
    return m_pauseButton->isChecked();
}

void MonitorWindow::setPaused(bool on) {
    if (m_pauseButton->isChecked() != on) {
        m_pauseButton->setChecked(on); // comes back here through toggled
        return;
    }
    if (!on)
        refresh();
}

void MonitorWindow::setFailuresOnly(bool on) {
    if (m_failuresBox->isChecked() != on) {
        m_failuresBox->setChecked(on);
        return;
    }
    static_cast<FailureFilter*>(m_filter)->setFailuresOnly(on);
}

void MonitorWindow::clear() {
    m_model->clear();
    showCounters();
}

int MonitorWindow::shownRows() const {
    return m_filter->rowCount();
}

QString MonitorWindow::countersText() const {
    return m_counters->text();
}

void MonitorWindow::showCounters() {
    const ExchangeLog::Counters& c = m_log.counters();
    m_counters->setText(strings::text(TextId::MonitorCounters)
                            .arg(c.exchanges)
                            .arg(c.good)
                            .arg(c.refused)
                            .arg(c.checksum)
                            .arg(c.noAnswer)
                            .arg(c.discardedBytes) +
                        (c.verifyMismatch > 0
                             ? strings::text(TextId::MonitorVerifyCount).arg(c.verifyMismatch)
                             : QString()) +
                        lineNotes(c));
}

QString MonitorWindow::lineNotes(const ExchangeLog::Counters& c) {
    // What the line showed of itself, said once under the counters while the log holds it.
    QString notes;
    if (c.latestLateMs >= 0)
        notes += QLatin1Char('\n') + lateAnswersText(int(c.latestLateMs));
    if (c.echoed)
        notes += QLatin1Char('\n') + echoingLineText();
    return notes;
}

bool MonitorWindow::saveText(const QString& path, QString* error) const {
    QString text = m_counters->text() + QLatin1Char('\n');
    QStringList cells;
    for (int c = 0; c < ExchangeTableModel::ColumnCount; ++c)
        cells << m_filter->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (int r = 0; r < m_filter->rowCount(); ++r) {
        cells.clear();
        for (int c = 0; c < ExchangeTableModel::ColumnCount; ++c)
            cells << m_filter->index(r, c).data().toString();
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return writeFileAtomically(path, text.toUtf8(), error);
}

void MonitorWindow::save() {
    const QString path = m_askPath ? m_askPath() : QString();
    if (path.isEmpty())
        return;
    QString error;
    if (!saveText(path, &error) && m_tellError)
        m_tellError(strings::text(TextId::MonitorNotSaved).arg(path) + QLatin1Char(' ') + error);
}

} // namespace pmx
