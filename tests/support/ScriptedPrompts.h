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
    QStringList errors;
    QStringList infos;
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
        p.openFile = [this](QWidget*, const QString& dir, const QString& filter) {
            lastFile = {dir, filter, {}, {}};
            return nextFile;
        };
        p.saveFile = [this](QWidget*, const QString& dir, const QString& filter,
                            const QString& suffix, const QString& proposed) {
            lastFile = {dir, filter, suffix, proposed};
            return nextFile;
        };
        p.tellError = [this](QWidget*, const QString& text) { errors << text; };
        p.tellInfo = [this](QWidget*, const QString& text) { infos << text; };
        return p;
    }
};

} // namespace pmx::test
