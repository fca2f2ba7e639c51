// The main window and the instrument search: the dialog asks, the dispatcher runs the
// search as a task, and "Use these settings" stores and applies what was found.
#include "app/MainWindow.h"

#include "comm/SettingsStore.h"
#include "text/StringTable.h"
#include "transfer/Finder.h"
#include "ui/ConditionsDialog.h"
#include "ui/FinderDialog.h"

#include <QCoreApplication>
#include <QTimer>

#include <functional>

namespace pmx {

namespace {

// The search as the dialog shows it; a dialog closed meanwhile cancels it.
class DialogFinderView : public FinderView {
  public:
    DialogFinderView(FinderDialog* dialog, std::function<bool()> ending)
        : m_dialog(dialog), m_ending(std::move(ending)) {}
    void tryStarting(int n, int m, const ProbeTarget& target) override {
        if (m_dialog)
            m_dialog->tryStarting(n, m, target);
    }
    void found(const FoundInstrument& instrument) override {
        if (m_dialog)
            m_dialog->addFound(instrument);
    }
    void portSkipped(const QString& port, const QString& why) override {
        if (m_dialog)
            m_dialog->portSkipped(port, why);
    }
    void lineEchoes(const QString& port) override {
        if (m_dialog)
            m_dialog->lineEchoes(port);
    }
    void processEvents() override { QCoreApplication::processEvents(); }
    bool stopRequested() override { return !m_dialog || m_dialog->cancelRequested() || m_ending(); }

  private:
    QPointer<FinderDialog> m_dialog;
    std::function<bool()> m_ending;
};

} // namespace

FinderDialog* MainWindow::finderDialog() const {
    return m_finderDialog;
}

FinderSetup MainWindow::finderSetup() const {
    FinderSetup setup;
    PortMap ports(*m_store, m_discover);
    if (m_com)
        setup.inEffect = m_com->conditions();
    const QString device = m_com && !m_com->lastDevice().isEmpty()
                               ? m_com->lastDevice()
                               : ports.resolve(setup.inEffect.port);
    setup.portInEffect = device.isEmpty() ? QString() : PortMap::stableName(device, m_aliasDir);
    setup.devices = ports.discovered();
    return setup;
}

void MainWindow::openFinder() {
    if (!m_finderDialog) {
        m_finderDialog = new FinderDialog(finderSetup(), this);
        connect(m_finderDialog, &FinderDialog::startRequested, this, &MainWindow::startFinder);
        connect(m_finderDialog, &FinderDialog::useRequested, this, &MainWindow::useFoundSettings);
    } else if (!m_finderDialog->running()) {
        m_finderDialog->setSetup(finderSetup());
    }
    m_finderDialog->show();
    m_finderDialog->raise();
    m_finderDialog->activateWindow();
}

void MainWindow::startFinder() {
    if (!m_finderDialog)
        return;
    // A task posted while another runs would be overwritten when that one ends.
    if (!m_com || m_dispatcher.busy()) {
        m_finderDialog->showMessage(strings::text(TextId::FinderBusy));
        return;
    }
    m_finderDialog->setSetup(finderSetup()); // what is in effect at this moment
    m_finderOptions = m_finderDialog->options();
    postTask(kTaskFind);
}

bool MainWindow::findInstruments() {
    if (!m_com || !m_finderDialog)
        return true; // the dialog went away before its search began: nothing changed
    setTransferEnabled(false);
    FinderPlan plan(m_finderOptions);
    m_finderDialog->scanStarted(plan);
    DialogFinderView view(m_finderDialog, [this] { return m_ending; });
    const FinderResult result = runFinder(*m_com, plan, view, &m_table);
    if (m_finderDialog)
        m_finderDialog->scanEnded(result);
    if (m_ending)
        return false;
    // The conditions in effect again, or those just chosen with "Use these settings".
    const bool applied = applyStep();
    if (m_finderDialog)
        m_finderDialog->setSetup(finderSetup());
    return applied;
}

void MainWindow::useFoundSettings() {
    if (!m_finderDialog)
        return;
    const std::optional<FoundInstrument> chosen = m_finderDialog->chosen();
    if (!chosen)
        return;
    PortMap ports(*m_store, m_discover);
    const QString com = storeFoundSettings(*m_store, ports, chosen->target);
    if (m_conditionsDialog)
        m_conditionsDialog->reloadStored();
    m_finderDialog->showMessage(
        strings::text(TextId::FinderStored)
            .arg(com + QStringLiteral(" \u2192 ") + probeTargetText(chosen->target)));
    if (m_finderDialog->running())
        m_finderDialog->requestCancel(); // its end applies the conditions stored now
    else
        postTask(kTaskApply); // as the condition dialog's OK
    // After the apply's tick (posted first), the dialog shows what is in effect then.
    QTimer::singleShot(0, this, [this] {
        if (m_finderDialog && !m_finderDialog->running())
            m_finderDialog->setSetup(finderSetup());
    });
}

} // namespace pmx
