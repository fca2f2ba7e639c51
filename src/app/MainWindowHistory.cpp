// The main window and the change log: File > Change history.
#include "app/MainWindow.h"

#include "model/AppPaths.h"
#include "text/StringTable.h"
#include "transfer/ChangeLog.h"
#include "ui/HistoryWindow.h"

#include <QDateTime>

namespace pmx {

void MainWindow::openHistory() {
    if (!m_historyWindow) {
        const auto choose = [this](QWidget* parent, bool pdf) {
            const QString stamp =
                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            return pdf ? m_prompts.saveFile(parent, startFolder(FileKind::Csv),
                                            QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"),
                                            QStringLiteral("commissioning-%1.pdf").arg(stamp))
                       : m_prompts.saveFile(parent, startFolder(FileKind::Csv),
                                            QString::fromLatin1(strings::kCsvFileFilter),
                                            QStringLiteral("csv"),
                                            QStringLiteral("commissioning-%1.csv").arg(stamp));
        };
        m_historyWindow = new HistoryWindow(
            ChangeLog::standard().folder(), choose,
            [this](QWidget* parent, const QString& text) { m_prompts.tellError(parent, text); },
            this);
    } else if (auto* history = qobject_cast<HistoryWindow*>(m_historyWindow.data())) {
        history->reload();
    }
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

} // namespace pmx
