#pragma once
// Answers the main window's questions and file choices from a script, and keeps every
// question and error it was shown, for offscreen window tests.
#include "app/UserPrompts.h"
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

namespace pmx::test {

// Private settings for the whole test executable: set before any QSettings is used,
// so nothing touches the user's own files. Define one at namespace scope.
struct PrivateSettingsScope {
    QTemporaryDir config;
    PrivateSettingsScope() { qputenv("XDG_CONFIG_HOME", config.path().toUtf8()); }
};

struct ScriptedPrompts {
    struct FileQuestion {
        QString dir, filter, suffix, proposed;
    };
    QStringList asked;
    QStringList askedDefaultNo; // the questions whose default answer is No (also in asked)
    QStringList errors;
    bool appendChosen = false; // the last file was chosen for appending
    bool answer = true;
    QList<bool> answers; // taken first, then `answer`
    QString nextFile;    // what the file dialogs return; empty = cancelled
    FileQuestion lastFile;

    UserPrompts prompts() {
        UserPrompts p;
        p.askYesNo = [this](QWidget*, const QString& text) {
            asked << text;
            return answers.isEmpty() ? answer : answers.takeFirst();
        };
        p.askYesNoDefaultNo = [this, yesNo = p.askYesNo](QWidget* parent, const QString& text) {
            askedDefaultNo << text;
            return yesNo(parent, text);
        };
        p.openFile = [this](QWidget*, const QString& dir, const QString& filter) {
            lastFile = {dir, filter, {}, {}};
            return nextFile;
        };
        p.saveFile = [this](QWidget*, const QString& dir, const QString& filter,
                            const QString& suffix, const QString& proposed) {
            lastFile = {dir, filter, suffix, proposed};
            appendChosen = false;
            return nextFile;
        };
        p.appendFile = [this, save = p.saveFile](QWidget* parent, const QString& dir,
                                                 const QString& filter, const QString& suffix,
                                                 const QString& proposed) {
            const QString chosen = save(parent, dir, filter, suffix, proposed);
            appendChosen = true;
            return chosen;
        };
        p.tellError = [this](QWidget*, const QString& text) { errors << text; };
        return p;
    }
};

} // namespace pmx::test
