// The main window's instrument profile (units, ranges, live and read-only items) and the
// watching of live items while the operator tunes.
#include "app/MainWindow.h"

#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/LiveTrend.h"
#include "ui/ValuePadDialog.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace pmx {

namespace {

// The program's own option: milliseconds between two rounds of watching.
const QString kWatchInterval = QStringLiteral("WatchIntervalMs");
constexpr int kWatchDefaultMs = 1000;
constexpr int kWatchMinMs = 200;
constexpr int kWatchMaxMs = 60000;

// A round of watching tells the window nothing but failures; the monitor shows its
// exchanges like any other.
class WatchView : public TransferView {
  public:
    WatchView(TransferView& window, const Dispatcher& dispatcher)
        : m_window(window), m_dispatcher(dispatcher) {}
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override {}
    void showError(int, int) override {}
    void processEvents() override { m_window.processEvents(); }
    bool selectionBoxTicked(int) override { return true; }
    // A transfer posted meanwhile goes first: the round ends before its next exchange.
    bool stopRequested() override {
        return m_window.stopRequested() || m_dispatcher.task() != kTaskWatchLive;
    }
    void connectionLost(const QString& device) override { m_window.connectionLost(device); }

  private:
    TransferView& m_window;
    const Dispatcher& m_dispatcher;
};

} // namespace

void MainWindow::findProfile(const QString& modelPath) {
    const QString path = pmx::findProfile(modelPath, m_table.modelName);
    if (path.isEmpty()) {
        m_profile.reset();
        if (m_valueDialog)
            m_valueDialog->setProfile(nullptr);
        m_modelLabel->setToolTip(QString());
        drawPage();
        return;
    }
    useProfile(path);
}

bool MainWindow::useProfile(const QString& path) {
    const ProfileLoadResult r = loadProfile(path);
    m_profile = r.profile;
    if (m_valueDialog)
        m_valueDialog->setProfile(profile());
    if (r.ok()) {
        m_modelLabel->setToolTip(strings::text(TextId::ProfileInUse).arg(path));
    } else {
        // Never in part: the items are plain settings, and the summary line says why.
        m_modelLabel->setToolTip(QString());
        showOnSummaryLine(strings::text(TextId::ProfileRefused)
                              .arg(QFileInfo(path).fileName(), r.errorText(strings::language())),
                          true);
    }
    drawPage();
    return r.ok();
}

void MainWindow::markProfileRows() {
    const int base = firstItemOnPage();
    const strings::Lang lang = strings::language();
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = base + r;
        QLineEdit* cell = m_valueCells[r];
        QStringList tip;
        bool live = false;
        if (m_profile) {
            const ItemProfile& p = m_profile->items[std::size_t(i)];
            live = p.kind == ItemKind::Live;
            if (p.min || p.max)
                tip << strings::text(TextId::TipRange).arg(m_profile->rangeText(i, lang));
            else if (!p.unit.isEmpty())
                tip << strings::text(TextId::TipUnit).arg(p.unit);
            if (live)
                tip << strings::text(TextId::TipLive);
            else if (p.kind == ItemKind::Readonly)
                tip << strings::text(TextId::TipReadonly);
            if (const QString note = m_profile->note(i, lang); !note.isEmpty())
                tip << note;
        }
        const QString text = tip.join(QLatin1Char('\n'));
        if (cell->toolTip() != text)
            cell->setToolTip(text);
        // Live values lean: they are the instrument's, moving by themselves. The font, not
        // a colour, so that the failure mark and every theme stay as they are.
        if (cell->font().italic() != live) {
            QFont f = cell->font();
            f.setItalic(live);
            cell->setFont(f);
        }
    }
}

void MainWindow::buildWatch(QWidget* central, QBoxLayout* side) {
    auto* row = new QHBoxLayout;
    m_watchBox = new QCheckBox(strings::text(TextId::WatchLive), central);
    m_watchBox->setObjectName(QStringLiteral("Check_watch"));
    m_watchBox->setChecked(false); // off at every start
    row->addWidget(m_watchBox);
    auto* interval = new QSpinBox(central);
    interval->setObjectName(QStringLiteral("Spin_watch"));
    interval->setRange(kWatchMinMs, kWatchMaxMs);
    interval->setSingleStep(100);
    interval->setSuffix(QStringLiteral(" ms"));
    interval->setAccessibleName(strings::text(TextId::WatchInterval));
    interval->setToolTip(strings::text(TextId::WatchInterval));
    bool ok = false;
    int ms = m_store->value(cond::kOptionsSection, kWatchInterval, QString::number(kWatchDefaultMs))
                 .toInt(&ok);
    if (!ok || ms < kWatchMinMs || ms > kWatchMaxMs)
        ms = kWatchDefaultMs;
    interval->setValue(ms);
    m_watchTimer.setInterval(ms);
    row->addWidget(interval);
    side->addLayout(row);
    connect(interval, &QSpinBox::valueChanged, this, [this](int v) { setWatchInterval(v); });
    connect(m_watchBox, &QCheckBox::toggled, this, [this](bool on) { setWatchLive(on); });
    connect(&m_watchTimer, &QTimer::timeout, this, &MainWindow::watchTick);
}

void MainWindow::setWatchLive(bool on) {
    if (m_watchBox->isChecked() != on)
        m_watchBox->setChecked(on); // comes back here through toggled
    if (on) {
        if (!m_trend)
            m_trend = new LiveTrend(this);
        m_trend->show();
        m_trend->raise();
        m_watchTimer.start();
        watchTick();
    } else {
        m_watchTimer.stop();
        if (m_dispatcher.task() == kTaskWatchLive)
            m_dispatcher.post(kTaskIdle);
    }
}

bool MainWindow::watchingLive() const {
    return m_watchBox && m_watchBox->isChecked();
}

void MainWindow::setWatchInterval(int ms) {
    ms = std::clamp(ms, kWatchMinMs, kWatchMaxMs);
    m_watchTimer.setInterval(ms);
    m_store->setValue(cond::kOptionsSection, kWatchInterval, QString::number(ms));
    if (auto* spin = findChild<QSpinBox*>(QStringLiteral("Spin_watch"));
        spin && spin->value() != ms)
        spin->setValue(ms);
}

int MainWindow::watchInterval() const {
    return m_watchTimer.interval();
}

void MainWindow::watchTick() {
    // Only while the line is idle: every other task goes first, and a round never waits
    // behind one.
    if (!watchingLive() || m_lost || m_dispatcher.busy() || m_dispatcher.task() != kTaskIdle)
        return;
    postTask(kTaskWatchLive);
}

void MainWindow::watchLiveItems() {
    if (!m_com || !watchingLive())
        return;
    ItemTable watched = m_table;
    QList<int> items;
    for (int i = 0; i < kItemCount; ++i) {
        const bool live = m_profile && m_table.isSelected(i) && m_profile->isLive(i);
        watched.selections[i] = live ? Selection::Selected : Selection::Cleared;
        if (live)
            items << i;
    }
    if (m_trend)
        m_trend->setNote(items.isEmpty() ? strings::text(TextId::WatchNoLive) : QString());
    if (items.isEmpty())
        return;
    WatchView view(*this, m_dispatcher);
    TransferContext ctx{watched, *m_com, view};
    const QDateTime when = QDateTime::currentDateTime();
    const TransferResult result = pmx::readAllItems(ctx);
    QMap<int, qint16> values;
    QMap<int, QString> labels;
    for (int i : result.good) {
        // The instrument's own values: the table takes them without counting as an edit.
        m_table.values[i] = watched.values[i];
        m_unchanged.values[i] = watched.values[i];
        values.insert(i, watched.values[i]);
        QString label = itemAddressText(i) + QStringLiteral("h ") + m_table.names[i];
        if (m_profile && !m_profile->unit(i).isEmpty())
            label += QStringLiteral(" [") + m_profile->unit(i) + QLatin1Char(']');
        labels.insert(i, label);
    }
    if (m_trend && !values.isEmpty())
        m_trend->addRound(when, values, labels);
    refreshValues();
    transferEnded();
}

} // namespace pmx
