#include "app/UserPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace pmx {

namespace {

const QString kTitle = QStringLiteral("PMX-31570A");

// Turns "*.txt(text file)|*.txt" style filters into Qt's "*.txt(text file) (*.txt)".
QString qtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (parts.size() != 2)
        return filter;
    return parts[0] + QStringLiteral(" (") + parts[1] + QLatin1Char(')');
}

} // namespace

UserPrompts UserPrompts::interactive() {
    UserPrompts p;
    auto ask = [](QWidget* parent, const QString& text, QMessageBox::StandardButton byDefault) {
        QMessageBox box(QMessageBox::Warning, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                        parent);
        box.setDefaultButton(byDefault);
        return box.exec() == QMessageBox::Yes;
    };
    p.askYesNo = [ask](QWidget* parent, const QString& text) {
        return ask(parent, text, QMessageBox::Yes);
    };
    p.askYesNoDefaultNo = [ask](QWidget* parent, const QString& text) {
        return ask(parent, text, QMessageBox::No);
    };
    p.openFile = [](QWidget* parent, const QString& dir, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, QString(), dir, qtFilter(filter));
    };
    auto chooseSaved = [](QWidget* parent, const QString& dir, const QString& filter,
                          const QString& suffix, const QString& proposed, bool appends) {
        QFileDialog dialog(parent, QString(), dir, qtFilter(filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(suffix);
        // Nothing is replaced when the rows go to the end of the file.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, appends);
        if (!proposed.isEmpty())
            dialog.selectFile(proposed);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    };
    p.saveFile = [chooseSaved](QWidget* parent, const QString& dir, const QString& filter,
                               const QString& suffix, const QString& proposed) {
        return chooseSaved(parent, dir, filter, suffix, proposed, false);
    };
    p.appendFile = [chooseSaved](QWidget* parent, const QString& dir, const QString& filter,
                                 const QString& suffix, const QString& proposed) {
        return chooseSaved(parent, dir, filter, suffix, proposed, true);
    };
    p.tellError = [](QWidget* parent, const QString& text) {
        QMessageBox::warning(parent, kTitle, text);
    };
    p.tellInfo = [](QWidget* parent, const QString& text) {
        QMessageBox::information(parent, kTitle, text);
    };
    return p;
}

} // namespace pmx
