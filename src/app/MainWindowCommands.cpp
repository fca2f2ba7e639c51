// The main window's commands: the transfer and file buttons, the menus and the dialogs
// they open.
#include "app/MainWindow.h"
#include "transfer/ChangeLog.h"

#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "model/AppPaths.h"
#include "model/ModelDefinition.h"
#include "model/TableFile.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "text/StringTable.h"
#include "ui/AboutDialog.h"
#include "ui/CompareDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/ReportWindow.h"
#include "ui/ValuePadDialog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace pmx {

namespace {

// Brings a dialog that may be hidden or behind the window to the front.
void present(QWidget* dialog) {
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

// The option that keeps the last folder of each kind of file.
QString folderKey(MainWindow::FileKind kind) {
    switch (kind) {
    case MainWindow::FileKind::Model:
        return QStringLiteral("ModelFolder");
    case MainWindow::FileKind::Data:
        return QStringLiteral("DataFolder");
    case MainWindow::FileKind::Csv:
        return QStringLiteral("CsvFolder");
    }
    return {};
}

} // namespace

QString MainWindow::startFolder(FileKind kind) const {
    const QString last = m_store->value(cond::kOptionsSection, folderKey(kind), QString());
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    // The first time (or when that folder is gone): where the files of the kind belong.
    switch (kind) {
    case FileKind::Model:
        // A fresh installation has no model beside the program, but one among its files.
        if (!holdsModelFiles(m_appDir)) {
            const QString installed = installedModelsFolder();
            if (!installed.isEmpty())
                return installed;
        }
        return m_appDir;
    case FileKind::Data:
        return m_appDir;
    case FileKind::Csv:
        return m_appDir + QStringLiteral("/csvdata");
    }
    return m_appDir;
}

void MainWindow::rememberFolder(FileKind kind, const QString& chosenFile) {
    const QString folder = QFileInfo(chosenFile).absolutePath();
    if (m_store->value(cond::kOptionsSection, folderKey(kind), QString()) != folder)
        m_store->setValue(cond::kOptionsSection, folderKey(kind), folder);
}

ItemSelectionDialog* MainWindow::selectionDialog() {
    if (!m_selectionDialog) {
        m_selectionDialog = new ItemSelectionDialog(m_table, this);
        connect(m_selectionDialog, &ItemSelectionDialog::accepted, this, &MainWindow::drawPage);
    }
    return m_selectionDialog;
}

ConditionsDialog* MainWindow::conditionsDialog() {
    if (!m_conditionsDialog) {
        m_conditionsDialog = new ConditionsDialog(*m_store, this);
        connect(m_conditionsDialog, &ConditionsDialog::conditionsStored, this,
                [this] { postTask(kTaskApply); });
    }
    return m_conditionsDialog;
}

ValuePadDialog* MainWindow::valueDialog() const {
    return m_valueDialog;
}

AboutDialog* MainWindow::aboutDialog() const {
    return m_aboutDialog;
}

MonitorWindow* MainWindow::monitorWindow() const {
    return m_monitor;
}

void MainWindow::openMonitor() {
    if (!m_monitor) {
        m_monitor = new MonitorWindow(
            m_exchangeLog, [this](const ExchangeRecord& r) { return describeExchange(r); },
            [this] {
                return m_prompts.saveFile(this, m_appDir, strings::text(TextId::TextFiles),
                                          QStringLiteral("txt"), QStringLiteral("monitor.txt"));
            },
            [this](const QString& text) { m_prompts.tellError(this, text); }, this);
    }
    present(m_monitor);
}

// "read 0044h Baud rate" / "write 0023h Alarm = 1F4h": the item's name and the value as the
// pages show it.
QString MainWindow::describeExchange(const ExchangeRecord& record) const {
    const RequestMeaning m = describeRequest(record.protocol, record.request);
    if (!m.valid)
        return QString();
    const bool known = m.item >= 0 && m.item < kItemCount;
    const QString name = known ? m_table.names[m.item] : QString();
    const QString address = QString::number(m.item, 16).toUpper().rightJustified(4, u'0');
    QString text = m.write ? strings::text(TextId::MeaningWrite)
                                 .arg(address, name, formatValue(m.value.value_or(0)))
                           : strings::text(TextId::MeaningRead).arg(address, name);
    if (!m.write && m.count > 1)
        text += QStringLiteral(" (%1)").arg(m.count);
    return text.simplified();
}

void MainWindow::openItemSelection() {
    present(selectionDialog());
}

void MainWindow::openConditions() {
    present(conditionsDialog());
}

void MainWindow::showAbout() {
    if (m_aboutDialog && !m_aboutDialog->isVisible())
        m_aboutDialog = nullptr; // closed, only waiting for its deferred deletion
    if (!m_aboutDialog)
        m_aboutDialog = new AboutDialog(this);
    present(m_aboutDialog);
}

void MainWindow::chooseModel() {
    const QString path = m_prompts.openFile(this, startFolder(FileKind::Model),
                                            QString::fromLatin1(strings::kModelFileFilter));
    if (path.isEmpty())
        return;
    rememberFolder(FileKind::Model, path);
    const ModelLoadResult result = loadModelDefinition(path, m_table.englishNames, m_table);
    if (!result.ok) {
        m_prompts.tellError(this, result.errorText(strings::language()));
        return;
    }
    findProfile(path); // beside the file, else by the model's name; draws the page
    ItemSelectionDialog* dialog = selectionDialog();
    for (int i = 0; i < kItemCount; ++i)
        dialog->setItemToolTip(i, m_table.names[i]);
}

void MainWindow::showAllData() {
    pmx::showAllData(this, m_table, m_hexButton->isChecked(), profile());
}

void MainWindow::exportCsv() {
    const QString proposed =
        csvFileName(QStringLiteral("PMX-31570A"), QDateTime::currentDateTime());
    const QString path = m_prompts.appendFile(this, startFolder(FileKind::Csv),
                                              QString::fromLatin1(strings::kCsvFileFilter),
                                              QStringLiteral("csv"), proposed);
    if (path.isEmpty())
        return;
    rememberFolder(FileKind::Csv, path);
    ListArrays lists;
    fillListArrays(m_table, m_hexButton->isChecked(), lists);
    QString error;
    CsvWritten written;
    if (!appendCsv(path, lists, strings::language(), &error, &written, csvEncoding())) {
        m_prompts.tellError(
            this, strings::text(TextId::CsvNotWritten).arg(QDir::toNativeSeparators(path), error));
        return;
    }
    showOnSummaryLine(csvWrittenText(written, path, strings::language()), false);
}

CsvEncoding MainWindow::csvEncoding() const {
    for (QAction* a : m_csvEncodingMenu->actions())
        if (a->isChecked())
            return CsvEncoding(a->data().toInt());
    return CsvEncoding::Utf8;
}

void MainWindow::requestCompare() {
    if (!m_readButton->isEnabled())
        return; // no port open, or a transfer runs
    if (std::none_of(m_table.selections.begin(), m_table.selections.end(),
                     [](Selection s) { return s == Selection::Selected; })) {
        showOnSummaryLine(strings::text(TextId::CompareNothingSelected), false);
        return;
    }
    postTask(kTaskCompare);
}

void MainWindow::exportComparison() {
    if (!m_compareDialog)
        return;
    const QString proposed =
        csvFileName(QStringLiteral("PMX-31570A-compare"), QDateTime::currentDateTime());
    // The rows are appended: no question whether to replace the file.
    const QString path = m_prompts.appendFile(m_compareDialog, startFolder(FileKind::Csv),
                                              QString::fromLatin1(strings::kCsvFileFilter),
                                              QStringLiteral("csv"), proposed);
    if (path.isEmpty())
        return;
    rememberFolder(FileKind::Csv, path);
    QString error;
    const QString block =
        csvRowsBlock(strings::programTitle(strings::language()) + QStringLiteral(" - ") +
                         strings::text(TextId::CompareTitle),
                     m_compareDialog->csvRows());
    if (!appendCsvText(path, block, &error, csvEncoding()))
        m_prompts.tellError(
            this, strings::text(TextId::CsvNotWritten).arg(QDir::toNativeSeparators(path), error));
}

void MainWindow::saveDataFile() {
    const QString path = m_prompts.saveFile(this, startFolder(FileKind::Data),
                                            QString::fromLatin1(strings::kDataFileFilter),
                                            QStringLiteral("dat"), QString());
    if (path.isEmpty())
        return;
    rememberFolder(FileKind::Data, path);
    QString error;
    if (!saveTableFile(path, m_table, &error)) {
        m_prompts.tellError(
            this,
            strings::text(TextId::DataFileNotSaved).arg(QDir::toNativeSeparators(path), error));
        return;
    }
    keepAsUnchanged();
}

void MainWindow::loadDataFile() {
    const QString path = m_prompts.openFile(this, startFolder(FileKind::Data),
                                            QString::fromLatin1(strings::kDataFileFilter));
    if (path.isEmpty())
        return;
    rememberFolder(FileKind::Data, path);
    const TableReadResult result = loadTableFile(path, m_table, TableReadMode::AllOrNothing);
    if (!result.ok) {
        // Nothing was changed: a half-loaded table could later be written to a machine.
        m_prompts.tellError(
            this, strings::text(TextId::DataFileNotLoaded)
                      .arg(QDir::toNativeSeparators(path), result.errorText(strings::language())));
        return;
    }
    ChangeLog::standard().setTableFile(path); // named in the records of later writes
    ItemSelectionDialog* dialog = selectionDialog();
    for (int i = 0; i < kItemCount; ++i)
        dialog->setBox(i, m_table.selections[i]);
    drawPage();
    keepAsUnchanged();
}

void MainWindow::editValue(int row) {
    m_table.currentItem = qint16(firstItemOnPage() + row);
    if (m_valueDialog && !m_valueDialog->isVisible())
        m_valueDialog = nullptr; // closed, only waiting for its deferred deletion
    if (!m_valueDialog) {
        m_valueDialog = new ValuePadDialog(m_table, this);
        connect(m_valueDialog, &ValuePadDialog::valueStored, this, [this] {
            refreshValues(); // the new value is shown whether or not it is sent
            postTask(kTaskWriteChanged);
        });
    }
    m_valueDialog->setProfile(profile());
    m_valueDialog->setItem(m_table.currentItem);
    present(m_valueDialog);
}

void MainWindow::requestRead() {
    if (m_prompts.askYesNo(this, strings::text(TextId::ConfirmRead)))
        postTask(kTaskReadAll);
}

void MainWindow::requestWrite() {
    if (m_prompts.askYesNo(this, strings::text(TextId::ConfirmWrite)))
        postTask(kTaskWriteAll);
}

} // namespace pmx
