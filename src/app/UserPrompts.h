#pragma once
#include <QString>

#include <functional>

class QWidget;

namespace pmx {

// Answers the questions and file choices the main window asks, so tests can script them.
struct UserPrompts {
    // Yes/No with Yes as default and the warning icon, title "PMX-31570A".
    std::function<bool(QWidget* parent, const QString& text)> askYesNo;
    // Filters are "description|pattern" ("*.dat(data file)|*.dat") or in the toolkit's
    // form ("PDF files (*.pdf)").
    std::function<QString(QWidget* parent, const QString& dir, const QString& filter)> openFile;
    std::function<QString(QWidget* parent, const QString& dir, const QString& filter,
                          const QString& suffix, const QString& proposed)>
        saveFile;
    // An error the operator must see (files, settings); never for line failures.
    std::function<void(QWidget* parent, const QString& text)> tellError;
    // Yes/No with No as default: for a Yes that throws work away.
    std::function<bool(QWidget* parent, const QString& text)> askYesNoDefaultNo;
    // A file that an export appends to: chosen like saveFile, without the question whether
    // to replace a file that exists.
    std::function<QString(QWidget* parent, const QString& dir, const QString& filter,
                          const QString& suffix, const QString& proposed)>
        appendFile;

    // Message boxes and file dialogs.
    static UserPrompts interactive();
};

} // namespace pmx
