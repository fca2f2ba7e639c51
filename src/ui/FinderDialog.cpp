#include "ui/FinderDialog.h"

#include "comm/LineNotes.h"

#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"
#include "ui/TextWrap.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

namespace pmx {

namespace {

constexpr ProtocolNumber kProtocols[] = {kProtocolKorvan, kProtocolModbusAscii, kProtocolModbusRtu};

template <class W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

FinderDialog::FinderDialog(const FinderSetup& setup, QWidget* parent) : QDialog(parent) {
    using strings::text;
    setObjectName(QStringLiteral("SubDisp_find"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(text(TextId::FinderTitle));
    auto* top = new QVBoxLayout;

    auto* ports = named(new QGroupBox(text(TextId::FinderPorts), this), "Frame_port");
    auto* portLayout = new QVBoxLayout(ports);
    m_portInEffect = named(new QRadioButton(ports), "Option_port_0");
    portLayout->addWidget(m_portInEffect);
    m_everyDevice = named(new QRadioButton(ports), "Option_port_1");
    portLayout->addWidget(m_everyDevice);
    m_portInEffect->setChecked(true);
    top->addWidget(ports);

    auto* protocols = named(new QGroupBox(text(TextId::FinderProtocols), this), "Frame_prot");
    auto* protocolLayout = new QHBoxLayout(protocols);
    for (int k = 0; k < 3; ++k) {
        Conditions c;
        c.protocol = kProtocols[k];
        auto* box = new QCheckBox(cond::toTexts(c).protocol, protocols);
        box->setObjectName(QStringLiteral("Check_prot_%1").arg(k));
        box->setChecked(true);
        protocolLayout->addWidget(box);
        m_protocolBoxes << box;
    }
    protocolLayout->addStretch(1);
    top->addWidget(protocols);

    auto* numbers = named(new QGroupBox(text(TextId::FinderInstruments), this), "Frame_inst");
    auto* numberLayout = new QVBoxLayout(numbers);
    m_instrumentInEffect = named(new QLabel(numbers), "Label_instrument");
    numberLayout->addWidget(m_instrumentInEffect);
    m_allInstruments =
        named(new QCheckBox(text(TextId::FinderAllInstruments), numbers), "Check_allinst");
    numberLayout->addWidget(m_allInstruments);
    top->addWidget(numbers);

    m_stopAtFirst = named(new QCheckBox(text(TextId::FinderStopAtFirst), this), "Check_stopfirst");
    m_stopAtFirst->setChecked(true);
    top->addWidget(m_stopAtFirst);
    auto* waitRow = new QHBoxLayout;
    m_answerWait = named(new QSpinBox(this), "Spin_wait");
    m_answerWait->setRange(kMinAnswerWaitMs, kMaxAnswerWaitMs);
    m_answerWait->setSingleStep(10);
    m_answerWait->setValue(kDefaultAnswerWaitMs);
    m_answerWait->setSuffix(QStringLiteral(" ms"));
    auto* waitCaption = named(new QLabel(text(TextId::FinderAnswerWait), this), "Label_wait");
    waitCaption->setBuddy(m_answerWait);
    waitRow->addWidget(waitCaption);
    waitRow->addWidget(m_answerWait);
    waitRow->addStretch(1);
    top->addLayout(waitRow);
    auto* hint = named(new WrappedLabel(text(TextId::FinderHint), this), "Label_hint");
    hint->setForegroundRole(QPalette::PlaceholderText);
    top->addWidget(hint);
    m_estimate = named(new WrappedLabel(this), "Label_estimate");
    QFont bold = m_estimate->font();
    bold.setBold(true);
    m_estimate->setFont(bold);
    top->addWidget(m_estimate);

    m_progress = named(new QProgressBar(this), "ProgressBar_find");
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    QSizePolicy keepRoom = m_progress->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true); // no jump when the first search starts
    m_progress->setSizePolicy(keepRoom);
    m_progress->setVisible(false);
    m_progress->setAccessibleName(text(TextId::SearchProgress));
    top->addWidget(m_progress);
    m_trying = named(new WrappedLabel(this), "Label_trying");
    top->addWidget(m_trying);

    m_table = named(new QTableWidget(0, 9, this), "Grid_found");
    m_table->setHorizontalHeaderLabels(
        {text(TextId::FinderPorts), text(TextId::Protocol), text(TextId::TransferRate),
         text(TextId::DataBits), text(TextId::ParityBits), text(TextId::StopBits),
         text(TextId::InstrumentNumber), text(TextId::FinderColumnModel),
         text(TextId::FinderColumnAnswer)});
    m_table->setAccessibleName(text(TextId::FoundInstruments));
    m_table->verticalHeader()->setVisible(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setHighlightSections(false);
    // Every cell whole on one line; long device names make the table scroll sideways.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(false);
    // Room for the headings, two rows and the scroll bar beneath them, so that a found row
    // is never hidden behind the bar.
    m_table->setMinimumSize(640,
                            m_table->horizontalHeader()->sizeHint().height() +
                                3 * m_table->fontMetrics().height() + 4 * m_table->frameWidth() +
                                m_table->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 24);
    top->addWidget(m_table, 1);
    m_message = named(new WrappedLabel(this), "Label_findstatus");
    top->addWidget(m_message);

    auto* buttons = new QHBoxLayout;
    m_startButton = named(new QPushButton(this), "Command_start");
    a11y::setCaption(m_startButton, TextId::FinderStart, 'S');
    m_useButton = named(new QPushButton(this), "Command_use");
    a11y::setCaption(m_useButton, TextId::FinderUse, 'U');
    auto* close = named(new QPushButton(this), "Command_close");
    a11y::setCaption(close, TextId::CompareClose, 'L');
    for (QPushButton* b : {m_startButton, m_useButton, close}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->insertStretch(2, 1);
    // On a small screen the choices and the list scroll; Start and Close stay in sight.
    m_scroll = scrollingBody(this, top, buttons);
    m_useButton->setEnabled(false);

    connect(m_startButton, &QPushButton::clicked, this, [this] {
        if (m_running)
            requestCancel();
        else
            emit startRequested();
    });
    connect(m_useButton, &QPushButton::clicked, this, &FinderDialog::useRequested);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
            [this] { m_useButton->setEnabled(chosen().has_value()); });
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
             m_portInEffect, m_everyDevice, m_allInstruments, m_stopAtFirst})
        connect(b, &QAbstractButton::toggled, this, &FinderDialog::refreshEstimate);
    for (QCheckBox* b : std::as_const(m_protocolBoxes))
        connect(b, &QAbstractButton::toggled, this, &FinderDialog::refreshEstimate);
    connect(m_answerWait, &QSpinBox::valueChanged, this, &FinderDialog::refreshEstimate);
    setSetup(setup);
    fitWindowToScreen(this, m_scroll);
}

void FinderDialog::setSetup(const FinderSetup& setup) {
    using strings::text;
    m_setup = setup;
    const QString inEffect =
        setup.portInEffect.isEmpty()
            ? setup.inEffect.port
            : setup.inEffect.port + QStringLiteral(" \u2192 ") + setup.portInEffect;
    m_portInEffect->setText(text(TextId::FinderPortInEffect).arg(inEffect));
    m_portInEffect->setToolTip(setup.portInEffect);
    m_everyDevice->setText(text(TextId::FinderEveryDevice).arg(setup.devices.size()));
    m_portInEffect->setEnabled(!setup.portInEffect.isEmpty());
    m_everyDevice->setEnabled(!setup.devices.isEmpty());
    // The choice stays unless it has nothing to offer now.
    if (setup.portInEffect.isEmpty() && !setup.devices.isEmpty())
        m_everyDevice->setChecked(true);
    else if (setup.devices.isEmpty())
        m_portInEffect->setChecked(true);
    m_instrumentInEffect->setText(
        text(TextId::FinderInstrumentInEffect).arg(setup.inEffect.instrument));
    refreshEstimate();
}

FinderOptions FinderDialog::options() const {
    FinderOptions o;
    o.inEffect = m_setup.inEffect;
    if (m_everyDevice->isChecked())
        for (const SerialPortEntry& e : m_setup.devices)
            o.ports << e.device;
    else if (!m_setup.portInEffect.isEmpty())
        o.ports << m_setup.portInEffect;
    for (int k = 0; k < 3; ++k)
        if (m_protocolBoxes[k]->isChecked())
            o.protocols << kProtocols[k];
    if (o.protocols.isEmpty())
        o.ports.clear(); // nothing to try
    o.allInstruments = m_allInstruments->isChecked();
    o.stopAtFirst = m_stopAtFirst->isChecked();
    o.answerWaitMs = m_answerWait->value();
    return o;
}

void FinderDialog::refreshEstimate() {
    const FinderPlan plan(options());
    m_estimate->setText(plan.total() == 0 ? strings::text(TextId::FinderNoDevice)
                                          : strings::text(TextId::FinderWorstCase)
                                                .arg(plan.total())
                                                .arg(durationText(plan.worstCaseMs())));
    m_startButton->setEnabled(m_running || plan.total() > 0);
}

void FinderDialog::setOptionsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             findChild<QWidget*>(QStringLiteral("Frame_port")),
             findChild<QWidget*>(QStringLiteral("Frame_prot")),
             findChild<QWidget*>(QStringLiteral("Frame_inst")), m_stopAtFirst, m_answerWait})
        w->setEnabled(on);
}

void FinderDialog::scanStarted(const FinderPlan& plan) {
    m_running = true;
    m_cancel = false;
    m_found.clear();
    m_table->setRowCount(0);
    a11y::setSpokenText(m_message, QString());
    m_useButton->setEnabled(false);
    setOptionsEnabled(false);
    a11y::setCaption(m_startButton, TextId::FinderCancel, 'C');
    m_startButton->setEnabled(true);
    m_progress->setRange(0, std::max(plan.total(), 1));
    m_progress->setValue(0);
    m_progress->setTextVisible(true);
    m_progress->setVisible(true);
    // Where the screen is too small for all of it, the search's progress and its findings
    // come into view.
    m_scroll->ensureWidgetVisible(m_table, 0, 0);
}

void FinderDialog::tryStarting(int n, int m, const ProbeTarget& target) {
    m_progress->setRange(0, std::max(m, 1));
    m_progress->setValue(n - 1);
    m_progress->setFormat(QStringLiteral("%1 / %2").arg(n).arg(m));
    const QString trying = strings::text(TextId::FinderProgress).arg(n).arg(m);
    a11y::setSpokenText(m_trying, trying.arg(breakable(probeTargetText(target))));
    a11y::announce(m_trying, trying.arg(probeTargetText(target)), a11y::Urgency::Progress);
}

void FinderDialog::addFound(const FoundInstrument& f) {
    m_found << f;
    Conditions c;
    c.protocol = f.target.protocol;
    c.instrument = f.target.instrument;
    c.rate = f.target.line.rate;
    c.dataBits = f.target.line.dataBits;
    c.stopBits = f.target.line.stopBits;
    c.parity = f.target.line.parity;
    const cond::StoredConditions t = cond::toTexts(c);
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QStringList cells = {f.target.port, t.protocol,  t.speed,
                               t.databit,     t.parity,    t.stopbit,
                               t.devNo,       f.modelName, answerText(f.result)};
    for (int k = 0; k < cells.size(); ++k) {
        auto* item = new QTableWidgetItem(cells[k]);
        item->setToolTip(cells[k]);
        m_table->setItem(row, k, item);
    }
    if (row == 0)
        m_table->selectRow(0);
    m_scroll->ensureWidgetVisible(m_table, 0, 0);
}

void FinderDialog::portSkipped(const QString& port, const QString& why) {
    a11y::setSpokenText(m_message,
                        strings::text(TextId::FinderPortSkipped).arg(breakable(port), why));
    a11y::announce(m_message, strings::text(TextId::FinderPortSkipped).arg(port, why),
                   a11y::Urgency::Outcome);
}

void FinderDialog::lineEchoes(const QString& port) {
    const QString note = breakable(port) + QStringLiteral(": ") + echoingLineText();
    const QString before = m_message->text();
    m_message->setText(before.isEmpty() ? note : before + QLatin1Char('\n') + note);
}

void FinderDialog::scanEnded(const FinderResult& r) {
    m_running = false;
    setOptionsEnabled(true);
    a11y::setCaption(m_startButton, TextId::FinderStart, 'S');
    m_progress->setValue(m_progress->maximum());
    m_progress->setTextVisible(false); // the line below says how it ended
    const QString ended =
        r.cancelled ? strings::text(TextId::FinderCancelled).arg(r.tries).arg(r.found.size())
        : r.found.isEmpty()
            ? strings::text(TextId::FinderNothingFound).arg(r.tries)
            : strings::text(TextId::FinderFoundCount).arg(r.found.size()).arg(r.tries);
    a11y::setSpokenText(m_trying, ended);
    a11y::announce(m_trying, ended, a11y::Urgency::Outcome);
    refreshEstimate();
}

void FinderDialog::requestCancel() {
    m_cancel = true;
    m_startButton->setEnabled(false); // pressed once is enough; the try is finishing
}

void FinderDialog::showMessage(const QString& text) {
    a11y::setSpokenText(m_message, text);
    a11y::announce(m_message, text, a11y::Urgency::Outcome);
}

std::optional<FoundInstrument> FinderDialog::chosen() const {
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    const int row = selected.first()->row();
    if (row < 0 || row >= m_found.size())
        return std::nullopt;
    return m_found[row];
}

void FinderDialog::closeEvent(QCloseEvent* event) {
    m_cancel = true; // a search under way ends before its next try
    QDialog::closeEvent(event);
}

void FinderDialog::reject() {
    QDialog::reject();
    close();
}

} // namespace pmx
