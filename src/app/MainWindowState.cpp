// The main window's state file, its help viewers and the end of the run.
#include "app/MainWindow.h"

#include "model/AppPaths.h"
#include "model/StateFile.h"
#include "text/StringTable.h"
#include "ui/ItemSelectionDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

namespace pmx {

void MainWindow::loadState() {
    QList<int> selectionsRead;
    QString error;
    bool found = false;
    // A damaged state file keeps what was read before the damage.
    const bool loaded = loadStateFile(m_appDir, m_table, &selectionsRead, &error, &found);
    if (!found)
        return;
    if (!loaded) {
        // The file is replaced at the end of the run: the operator must know now, and the
        // file is kept beside it first.
        m_keepStateCopy = true;
        m_prompts.tellError(
            this, strings::text(TextId::StateFileNotLoaded)
                      .arg(QLatin1String(kStateFileName), error, QLatin1String(kStateBackupName)));
    }
    // The selection dialog's boxes take the selections read, so that a write of all
    // items right after the start sees them.
    if (!selectionsRead.isEmpty()) {
        ItemSelectionDialog* dialog = selectionDialog();
        for (int i : selectionsRead)
            dialog->setBox(i, m_table.selections[i]);
    }
}

bool MainWindow::saveState(QString* error) {
    if (m_keepStateCopy) {
        if (!keepStateFileCopy(m_appDir, error))
            return false;
        m_keepStateCopy = false;
    }
    return saveStateFile(m_appDir, m_table, error);
}

void MainWindow::showHelp() {
    // The help file is opened by an external viewer that we start, so that shutdown
    // can close what it opened. A missing file is the viewer's to report.
    QStringList candidates;
    const QString configured = qEnvironmentVariable("PMX31570A_HELP_VIEWER");
    if (!configured.isEmpty())
        candidates << configured;
    candidates << QStringLiteral("xchm") << QStringLiteral("kchmviewer") << QStringLiteral("okular")
               << QStringLiteral("xdg-open");
    for (const QString& viewer : candidates) {
        const QString exe = QStandardPaths::findExecutable(viewer);
        if (exe.isEmpty())
            continue;
        auto* process = new QProcess(this);
        process->setProgram(exe);
        process->setArguments({m_helpPath});
        connect(process, &QProcess::finished, this, [this, process] {
            m_helpViewers.removeOne(process);
            process->deleteLater();
        });
        process->start();
        m_helpViewers.append(process);
        return;
    }
}

void MainWindow::closeHelpViewers() {
    for (QProcess* process : std::as_const(m_helpViewers)) {
        process->disconnect(this);
        process->terminate();
        if (!process->waitForFinished(1000))
            process->kill();
    }
    m_helpViewers.clear();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_ending) {
        event->accept();
        return;
    }
    if (!m_prompts.askYesNo(this, strings::text(TextId::ConfirmClose))) {
        event->ignore();
        return;
    }
    QString error;
    if (!saveState(&error)) {
        // Never a silent loss: the operator decides whether to close without saving.
        const QString question = strings::text(TextId::StateNotSaved)
                                     .arg(QDir::toNativeSeparators(stateFilePath()), error);
        if (!m_prompts.askYesNoDefaultNo(this, question)) {
            event->ignore();
            return;
        }
    }
    stopEverything();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::stopEverything() {
    m_ending = true; // a running transfer stops at its next item
    m_dispatcherTimer.stop();
    m_failureTimer.stop();
    m_lostDeviceTimer.stop();
    if (m_com)
        m_com->closePort();
    closeHelpViewers();
}

} // namespace pmx
