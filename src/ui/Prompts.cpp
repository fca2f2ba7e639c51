#include "ui/Prompts.h"

#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QPushButton>

namespace pmx {

namespace {

// The type column of the file dialog: the toolkit's translations lack the folder's.
class FileTypeNames : public QFileIconProvider {
  public:
    QString type(const QFileInfo& info) const override {
        if (info.isDir() && !info.isRoot())
            return strings::text(TextId::Folder);
        return QFileIconProvider::type(info);
    }
};

} // namespace

void setButtonTexts(QMessageBox& box) {
    using strings::text;
    const struct {
        QMessageBox::StandardButton button;
        TextId id;
        char key; // none: no access letter
    } captions[] = {{QMessageBox::Yes, TextId::Yes, 'Y'},
                    {QMessageBox::No, TextId::No, 'N'},
                    {QMessageBox::Ok, TextId::Ok, 0},
                    {QMessageBox::Cancel, TextId::Cancel, 0}};
    for (const auto& c : captions) {
        QAbstractButton* b = box.button(c.button);
        if (b && c.key)
            a11y::setCaption(b, c.id, c.key);
        else if (b)
            b->setText(text(c.id));
    }
}

QMessageBox* messageBox(QMessageBox::Icon icon, const QString& text,
                        QMessageBox::StandardButtons buttons, QWidget* parent) {
    auto* box = new QMessageBox(icon, QStringLiteral("PMX-31570A"), text, buttons, parent);
    setButtonTexts(*box);
    return box;
}

void setFileDialogTexts(QFileDialog& dialog) {
    using strings::text;
    const bool save = dialog.acceptMode() == QFileDialog::AcceptSave;
    dialog.setLabelText(QFileDialog::Accept, text(save ? TextId::SaveFile : TextId::Open));
    dialog.setLabelText(QFileDialog::Reject, text(TextId::Cancel));
    dialog.setLabelText(QFileDialog::LookIn, text(TextId::LookIn));
    dialog.setLabelText(QFileDialog::FileName, text(TextId::FileNameCaption));
    dialog.setLabelText(QFileDialog::FileType, text(TextId::FileTypeCaption));
    // The folder and the file type boxes are named by their captions, not by what they hold.
    if (auto* lookIn = dialog.findChild<QComboBox*>(QStringLiteral("lookInCombo")))
        a11y::nameComboBox(lookIn, text(TextId::LookIn));
    if (auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        a11y::nameComboBox(types, text(TextId::FileTypeCaption));
    static FileTypeNames typeNames; // the dialog does not own it
    dialog.setIconProvider(&typeNames);
}

void setUpFileDialog(QFileDialog& dialog, bool save, const QString& dir, const QString& proposed,
                     const QString& filter, const QString& suffix, bool confirmOverwrite) {
    dialog.setDirectory(dir);
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar >= 0) {
        // "*.dat(data file)|*.dat": the list shows the description alone, as it stands.
        dialog.setNameFilter(filter.left(bar) + QStringLiteral(" (") + filter.mid(bar + 1) +
                             QLatin1Char(')'));
        dialog.setOption(QFileDialog::HideNameFilterDetails);
    } else {
        dialog.setNameFilter(filter);
    }
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!suffix.isEmpty())
        dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    if (!proposed.isEmpty())
        dialog.selectFile(proposed);
    setFileDialogTexts(dialog);
    fitWindowToScreen(&dialog, nullptr, dialog.sizeHint());
}

QString chooseFile(QWidget* parent, bool save, const QString& title, const QString& dir,
                   const QString& proposed, const QString& filter, const QString& suffix,
                   bool confirmOverwrite) {
    QFileDialog dialog(parent, title);
    setUpFileDialog(dialog, save, dir, proposed, filter, suffix, confirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace pmx
