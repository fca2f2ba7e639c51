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
// A file dialog to open (save false) or save a file: starting in `dir`, with `proposed`
// chosen when not empty; `filter` in the toolkit's form ("Data files (*.dat)").
// Empty when cancelled. confirmOverwrite false: a file the rows are appended to.
QString chooseFile(QWidget* parent, bool save, const QString& title, const QString& dir,
                   const QString& proposed, const QString& filter,
                   const QString& suffix = QString(), bool confirmOverwrite = true);

} // namespace pmx
