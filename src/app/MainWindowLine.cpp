// The main window and the line: the dispatcher's tasks (the apply step among them), the
// transfer's progress and failures. A device that goes away: MainWindowLost.cpp.
#include "app/MainWindow.h"

#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include "comm/TcpTransport.h"
#include "text/StringTable.h"
#include "transfer/ChangeLog.h"
#include "transfer/ProfileTransfers.h"
#include "ui/Accessibility.h"
#include "ui/Colours.h"
#include "ui/CompareDialog.h"
#include "ui/ItemSelectionDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <utility>

namespace pmx {

namespace {

// A device by its stable name, which says which adapter it is, with the kernel's name
// for it when that differs: "/dev/serial/by-id/usb-FTDI_..-port0 (ttyUSB0)".
QString shownDevice(const QString& device, const QString& aliasDir) {
    const QString stable = PortMap::stableName(device, aliasDir);
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (stable == device && (canonical.isEmpty() || canonical == device))
        return QDir::toNativeSeparators(device);
    const QString kernel =
        canonical.startsWith(QLatin1String("/dev/")) ? canonical.mid(5) : canonical;
    return QDir::toNativeSeparators(stable) +
           (kernel.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(kernel));
}

} // namespace

void MainWindow::startCommunication() {
    m_ending = false;
    if (m_com)
        m_com->activate(true);
    m_dispatcher.post(kTaskApply);
    // A change record a kill cut short is set aside now, and the operator told, rather
    // than at the first write.
    if (const QString torn = ChangeLog::standard().recover(); !torn.isEmpty())
        notice(torn);
    show();
    m_dispatcherTimer.start();
    QTimer::singleShot(0, this, &MainWindow::onDispatcherTick);
}

void MainWindow::postTask(Task task) {
    m_dispatcher.post(task);
    QTimer::singleShot(0, this, &MainWindow::onDispatcherTick);
}

void MainWindow::onDispatcherTick() {
    if (m_ending)
        return;
    m_dispatcher.tick();
}

void MainWindow::endFailureDisplay() {
    m_failureTimer.stop();
    showModelLabel(QString(), false);
    // In a transfer the next exchange may block before the label would be painted, and
    // its failure would replace the name unseen.
    if (m_dispatcher.busy())
        m_modelLabel->repaint();
}

// ---- dispatcher host -----------------------------------------------------------

bool MainWindow::applyStep() {
    const ApplyResult result = m_com ? applyConditions(*m_com, *m_store)
                                     : ApplyResult{ApplyResult::Outcome::PortNotOpened, QString()};
    // An item failure shown just before must not later replace what the apply step shows:
    // the restoring tick would hide the communication error while the port stays closed.
    m_failureTimer.stop();
    if (!result.opened()) {
        for (QLabel* label : m_conditionValues)
            setStatusText(label, QString());
        setStatusText(m_blockValue, QString());
        if (m_lost) {
            // The device is not usable yet: the loss stays on show and the watch goes on.
            showModelLabel(QString(), true);
            QStringList lines{lostMessage(), result.why,
                              strings::text(TextId::WaitingForDevice).arg(m_lostDevice)};
            lines.removeAll(QString());
            setPortLine(lines.join(QLatin1Char('\n')), true);
            return false;
        }
        showModelLabel(strings::text(TextId::CommunicationError), false);
        setPortLine(result.why, false);
        return false;
    }
    const QString device = m_com->lastDevice();
    const bool reconnected = m_lost;
    leaveLost();
    setTransferEnabled(true);
    if (reconnected) {
        // Said for as long as a failure message would be, then the model name returns.
        setTextTone(m_modelLabel, Tone::Good);
        m_modelLabel->setText(
            strings::text(TextId::Reconnected).arg(device.isEmpty() ? m_lostDevice : device));
        a11y::announce(m_modelLabel, m_modelLabel->text(), a11y::Urgency::Outcome);
        m_failureTimer.start();
    } else {
        showModelLabel(QString(), false);
    }
    // What is in effect, which is not always what was stored: the apply step replaces a
    // text it refuses with its default.
    const QStringList texts = cond::toTexts(m_com->conditions()).list();
    for (int k = 0; k < 8; ++k)
        setStatusText(m_conditionValues[k], texts.value(k));
    setStatusText(m_blockValue, cond::blockSettingText(m_com->conditions()));
    // Which device the port name opened, so the operator can tell adapters apart.
    const QString port = m_com->conditions().port;
    if (TcpTransport::isNetworkAddress(device))
        // A connection, unlike a device file, can be there or not: say which.
        setPortLine(
            strings::text(TextId::NetworkConnected).arg(port + QStringLiteral(" \u2192 ") + device),
            false);
    else
        setPortLine(device.isEmpty() || device == port
                        ? QString()
                        : port + QStringLiteral(" \u2192 ") + shownDevice(device, m_aliasDir),
                    false);
    m_openDevice = device;
    m_openAliases = PortMap::stableNames(device, m_aliasDir);
    return true;
}

void MainWindow::setTransferEnabled(bool on) {
    on = on && !m_lost; // nothing to read from or write to until the device is back
    m_transferFrame->setEnabled(on);
    m_readButton->setEnabled(on);
    m_writeButton->setEnabled(on);
    if (m_compareAction) // built with the menus, after the buttons
        m_compareAction->setEnabled(on);
    if (m_compareDialog)
        m_compareDialog->setEnabled(on || m_compareDialog->isHidden());
}

bool MainWindow::sendOnChangeTicked() {
    return m_sendOnChangeBox->isChecked();
}

TransferContext MainWindow::context() {
    TransferContext ctx{m_table, *m_com, *this, m_verifyBox->isChecked()};
    ctx.readBeforeWrite = readBeforeWriteStored(*m_store);
    return ctx;
}

void MainWindow::tellChangeLogFailure(const TransferResult& result) {
    // A write without its record does not start, or stops: said in red where item
    // failures are, for as long as they are.
    if (result.logError.isEmpty() || m_ending)
        return;
    showModelLabel(result.logError, true);
    if (!m_failureTimer.isActive())
        m_failureTimer.start();
}

void MainWindow::writeChangedItem() {
    if (!m_com)
        return;
    // The profile's live and read-only items are the instrument's: never sent, and the
    // summary line says why.
    if (const InstrumentProfile* p = profile(); p && p->leftOutOfWrites(m_table.currentItem)) {
        showOnSummaryLine(
            strings::text(p->isLive(m_table.currentItem) ? TextId::TipLive : TextId::TipReadonly),
            false);
        return;
    }
    TransferContext ctx = context();
    tellChangeLogFailure(pmx::writeChangedItem(ctx));
    transferEnded();
}

void MainWindow::writeAllItems() {
    if (!m_com)
        return;
    beginTransfer();
    TransferContext ctx = context();
    // With a profile, live and read-only items stay out and the summary says how many.
    const int leftOut = int(itemsLeftOutOfWrite(m_table, profile()).size());
    const int planned = int(itemsToWrite(ctx).size()) - leftOut;
    const TransferResult result = writeSettingItems(ctx, profile(), nullptr);
    endTransfer(result, true, planned);
    if (leftOut > 0 && !m_ending) {
        showOnSummaryLine(m_summaryLabel->text() + leftOutOfWriteText(leftOut), m_summaryFailure);
        m_summaryFresh = true;
    }
    tellChangeLogFailure(result);
    transferEnded();
}

CompareDialog* MainWindow::compareDialog() const {
    return m_compareDialog;
}

void MainWindow::compareItems() {
    if (!m_com)
        return;
    TransferContext ctx = context();
    int notCompared = 0;
    const Comparison comparison = compareSettingItems(ctx, profile(), m_includeLive, &notCompared);
    if (comparison.read.readsImpossible && !m_ending) {
        showOnSummaryLine(QString(), true); // the notice that follows says why, in red
        m_summaryFresh = true;
    }
    transferEnded();
    if (m_ending || comparison.read.lost || comparison.read.readsImpossible)
        return; // the loss or the notice is the message
    if (!m_compareDialog) {
        m_compareDialog = new CompareDialog(this);
        // A write: asked as Write asks; the dialog shows how many items differ.
        connect(m_compareDialog, &CompareDialog::writeDifferencesRequested, this, [this] {
            if (m_prompts.askYesNo(this, strings::text(TextId::ConfirmWrite)))
                postTask(kTaskWriteDifferences);
        });
        connect(m_compareDialog, &CompareDialog::takeValuesRequested, this, [this] {
            const Comparison& c = m_compareDialog->comparison();
            for (int item : m_compareDialog->chosenItems()) {
                for (const ItemComparison& row : c.items) {
                    if (row.item == item && row.outcome != ItemComparison::Outcome::Unreadable) {
                        m_table.values[item] = row.instrumentValue;
                        m_compareDialog->itemNowHolds(item, row.instrumentValue,
                                                      row.instrumentValue);
                        break;
                    }
                }
            }
            refreshValues();
        });
        connect(m_compareDialog, &CompareDialog::exportRequested, this,
                &MainWindow::exportComparison);
        connect(m_compareDialog, &CompareDialog::includeLiveToggled, this, [this](bool on) {
            m_includeLive = on;
            postTask(kTaskCompare);
        });
    }
    m_compareDialog->setLiveItems(profile() != nullptr, m_includeLive, notCompared);
    m_compareDialog->setComparison(comparison, m_table, m_hexButton->isChecked());
    m_compareDialog->show();
    m_compareDialog->raise();
    m_compareDialog->activateWindow();
}

void MainWindow::writeDifferences() {
    if (!m_com || !m_compareDialog)
        return;
    const QList<int> items = m_compareDialog->comparison().differing();
    TransferContext ctx = context();
    const TransferResult result = writeListedSettingItems(ctx, items, profile(), nullptr);
    tellChangeLogFailure(result);
    transferEnded();
    // What the instrument now holds: what was written, or what a verify read back.
    for (int item : result.good) {
        qint16 holds = m_table.values[item];
        for (const ReadBackMismatch& m : result.mismatches)
            if (m.item == item)
                holds = m.holds;
        m_compareDialog->itemNowHolds(item, m_table.values[item], holds);
    }
}

void MainWindow::readAllItems() {
    if (!m_com)
        return;
    beginTransfer();
    TransferContext ctx = context();
    const int planned = int(itemsToRead(m_table).size());
    const TransferResult result = pmx::readAllItems(ctx);
    endTransfer(result, false, planned);
    // Every item read as the instrument holds it: the table is as read, unchanged.
    if (!m_ending && !result.stopped && !result.lost && !result.readsImpossible &&
        result.failed.isEmpty())
        keepAsUnchanged();
    transferEnded();
}

void MainWindow::stopTransfer() {
    m_stopPressed = true;
    m_stopButton->setEnabled(false); // pressed once is enough; the exchange is finishing
}

void MainWindow::beginTransfer() {
    m_stopPressed = false;
    m_failedItems.clear();
    showOnSummaryLine(QString(), false);
    markFailedRows();
}

void MainWindow::endTransfer(const TransferResult& result, bool write, int planned) {
    if (m_ending)
        return; // the window is going away with the sequence
    progressEnd();
    if (result.readsImpossible) {
        // Nothing was read: the notice that follows says why, in red.
        showOnSummaryLine(QString(), true);
        m_summaryFresh = true;
        return;
    }
    m_failedItems = std::set<int>(result.failed.begin(), result.failed.end());
    QString summary = pmx::transferSummary(result, write, planned);
    if (!result.logError.isEmpty())
        summary += QLatin1Char('\n') + result.logError;
    // Answers that came after their time-out: how late, and a time-out that would do.
    const QString late = m_com ? m_com->takeLateAnswerNotice() : QString();
    if (!late.isEmpty())
        summary += QLatin1Char('\n') + late;
    // A value the instrument did not keep is a failure as much as one it refused.
    showOnSummaryLine(summary, !result.failed.isEmpty() || !result.mismatches.isEmpty() ||
                                   result.lost || !result.logError.isEmpty());
    m_summaryFresh = true;
    markFailedRows();
}

void MainWindow::showOnSummaryLine(const QString& text, bool failure) {
    m_summaryFresh = false;
    m_summaryFailure = failure;
    m_summaryLabel->setText(text);
    setTextTone(m_summaryLabel, failure ? Tone::Failure : Tone::Plain);
    a11y::announce(m_summaryLabel, text, failure ? a11y::Urgency::Failure : a11y::Urgency::Outcome);
    m_summaryLabel->setVisible(!m_progressBar->isVisible());
}

// ---- transfer view -------------------------------------------------------------

void MainWindow::progressStart() {
    m_progressBar->setRange(0, kItemCount);
    m_progressBar->setValue(0);
    m_progressBar->resetFormat();
    m_summaryLabel->setVisible(false);
    m_progressBar->setVisible(true);
    m_stopButton->setEnabled(true);
    m_stopButton->setVisible(true);
}

// The bar counts the 128 addresses the transfer passes, so it stays at 0 while the leading
// items of a write go out; its text names the item being sent.
void MainWindow::progressStep() {
    m_progressBar->setValue(std::min(m_progressBar->value() + 1, m_progressBar->maximum()));
}

void MainWindow::progressItem(int n, int m, int item) {
    m_progressBar->setFormat(
        strings::text(TextId::ProgressItem).arg(n).arg(m).arg(itemAddressText(item)));
}

void MainWindow::progressEnd() {
    m_progressBar->setVisible(false);
    m_stopButton->setVisible(false);
    m_summaryLabel->setVisible(true);
}

void MainWindow::showError(int messageId, int) {
    if (m_lost)
        return; // with the device away every item fails: the loss is the message
    showModelLabel(strings::text(TextId(messageId)), true);
    // The first failure starts the display time; later ones only change the text, so the
    // model name comes back even while failures keep coming, and the next one starts it
    // again.
    if (!m_failureTimer.isActive())
        m_failureTimer.start();
}

void MainWindow::processEvents() {
    QCoreApplication::processEvents();
}

bool MainWindow::selectionBoxTicked(int item) {
    return selectionDialog()->boxTicked(item);
}

void MainWindow::notice(const QString& text) {
    if (!m_notices.contains(text))
        m_notices << text;
    if (!m_dispatcher.busy())
        QTimer::singleShot(0, this, &MainWindow::tellNotices);
}

void MainWindow::readBackDiffers(int item, qint16 wrote, qint16 holds) {
    // Shown in red as a failure while the write goes on, and listed with the notices on
    // the summary line at its end.
    const QString text = mismatchText({item, wrote, holds});
    showModelLabel(text, true);
    if (!m_failureTimer.isActive())
        m_failureTimer.start();
    notice(text);
}

void MainWindow::tellNotices() {
    // Said on the summary line, after what the transfer came to, once the transfer is over;
    // never in a message box.
    if (m_dispatcher.busy())
        return;
    QStringList notices = std::exchange(m_notices, {});
    if (m_ending || notices.isEmpty())
        return;
    constexpr int kShown = 4; // the monitor has them all
    if (notices.size() > kShown) {
        notices.resize(kShown);
        notices << QStringLiteral("\u2026");
    }
    QStringList lines;
    if (m_summaryFresh && !m_summaryLabel->text().isEmpty())
        lines << m_summaryLabel->text();
    const bool failure = m_summaryFresh && m_summaryFailure;
    showOnSummaryLine((lines + notices).join(QLatin1Char('\n')), failure);
}

void MainWindow::transferEnded() {
    if (m_com && !m_ending) {
        // A transfer without a summary line (one item, a comparison): late answers are
        // said where item failures are.
        const QString late = m_com->takeLateAnswerNotice();
        if (!late.isEmpty()) {
            showModelLabel(late, true);
            if (!m_failureTimer.isActive())
                m_failureTimer.start();
        }
        if (m_com->lineEchoes() != m_echoShown)
            setPortLine(m_portLineText, m_portLineAlarm); // names the echoing line
    }
    // After the dispatcher's tick, when the transfer is over.
    if (!m_notices.isEmpty())
        QTimer::singleShot(0, this, &MainWindow::tellNotices);
}

} // namespace pmx
