#pragma once
#include <QMessageBox>
#include <QString>

class QFileDialog;
class QWidget;

namespace pmx {

// Message boxes and file dialogs whose buttons and captions are in the run's language
// from our own string table, so they never depend on the toolkit's translations.

// Yes, No, OK, Cancel of a box in the run's language.
void setButtonTexts(QMessageBox& box);
// A box with `buttons` (title "PMX-31570A"), its buttons in the run's language.
QMessageBox* messageBox(QMessageBox::Icon icon, const QString& text,
                        QMessageBox::StandardButtons buttons, QWidget* parent);
// Open/Save, Cancel and the captions of the toolkit's own file dialog.
void setFileDialogTexts(QFileDialog& dialog);
// Sets a file dialog up to open (save false) or save a file: starting in `dir`, with
// `proposed` chosen when not empty. `filter` is "description|pattern"
// ("*.dat(data file)|*.dat"; the list shows the description as it stands) or in the
// toolkit's form ("PDF files (*.pdf)"). confirmOverwrite false: a file the rows are
// appended to.
void setUpFileDialog(QFileDialog& dialog, bool save, const QString& dir, const QString& proposed,
                     const QString& filter, const QString& suffix = QString(),
                     bool confirmOverwrite = true);
// Such a dialog, shown: the file chosen, empty when cancelled.
QString chooseFile(QWidget* parent, bool save, const QString& title, const QString& dir,
                   const QString& proposed, const QString& filter,
                   const QString& suffix = QString(), bool confirmOverwrite = true);

} // namespace pmx
