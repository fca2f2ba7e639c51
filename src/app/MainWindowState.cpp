// The main window's state file, its help (the help file's viewer or the built-in guide)
// and the end of the run.
#include "app/MainWindow.h"

#include "model/AppPaths.h"
#include "model/StateFile.h"
#include "text/StringTable.h"
#include "ui/HelpWindow.h"
#include "ui/ItemSelectionDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>

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
    showHelpAt(QString());
}

void MainWindow::showHelpAt(const QString& windowName) {
    const help::HelpChoice choice = help::chooseHelp(
        m_helpPath, strings::language(), m_helpFinder ? *m_helpFinder : help::HelpFinder::system());
    switch (choice.route) {
    case help::HelpRoute::Viewer:
        startHelpViewer(choice.viewer, choice.file);
        return;
    case help::HelpRoute::Guide:
        if (!m_helpWindow) {
            m_helpWindow = new HelpWindow(choice.file, this);
            if (!windowName.isEmpty())
                m_helpWindow->showPlaceOf(windowName, false); // where it opens
        } else if (!windowName.isEmpty()) {
            m_helpWindow->showPlaceOf(windowName); // Back returns to what was read
        }
        m_helpWindow->show();
        m_helpWindow->raise();
        m_helpWindow->activateWindow();
        return;
    case help::HelpRoute::None:
        // Never a Help that does nothing: the operator learns why.
        m_prompts.tellError(this, choice.reason);
        return;
    }
}

HelpWindow* MainWindow::helpWindow() const {
    return m_helpWindow;
}

void MainWindow::startHelpViewer(const QString& viewer, const QString& file) {
    // The viewer is started by us, so that shutdown can close what it opened.
    auto* process = new QProcess(this);
    process->setProgram(viewer);
    process->setArguments({file});
    connect(process, &QProcess::finished, this, [this, process] {
        m_helpViewers.removeOne(process);
        process->deleteLater();
    });
    process->start();
    m_helpViewers.append(process);
}

void MainWindow::closeHelpViewers() {
    for (QProcess* process : std::as_const(m_helpViewers)) {
        process->disconnect(this);
        process->terminate();
        if (!process->waitForFinished(1000))
            process->kill();
    }
    m_helpViewers.clear();
    if (m_helpWindow)
        m_helpWindow->close();
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

void MainWindow::endOnRequest() {
    stopEverything();
    // Every event loop ends, an open dialog's too, which answers as if cancelled.
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
