#include "app/UserPrompts.h"

#include "ui/Prompts.h"

#include <QMessageBox>

namespace pmx {

UserPrompts UserPrompts::interactive() {
    UserPrompts p;
    auto ask = [](QWidget* parent, const QString& text, QMessageBox::StandardButton byDefault) {
        QMessageBox* box =
            messageBox(QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No, parent);
        box->setDefaultButton(byDefault);
        const bool yes = box->exec() == QMessageBox::Yes;
        delete box;
        return yes;
    };
    p.askYesNo = [ask](QWidget* parent, const QString& text) {
        return ask(parent, text, QMessageBox::Yes);
    };
    p.askYesNoDefaultNo = [ask](QWidget* parent, const QString& text) {
        return ask(parent, text, QMessageBox::No);
    };
    p.openFile = [](QWidget* parent, const QString& dir, const QString& filter) {
        return chooseFile(parent, false, QString(), dir, QString(), filter);
    };
    p.saveFile = [](QWidget* parent, const QString& dir, const QString& filter,
                    const QString& suffix, const QString& proposed) {
        return chooseFile(parent, true, QString(), dir, proposed, filter, suffix);
    };
    // Nothing is replaced when the rows go to the end of the file.
    p.appendFile = [](QWidget* parent, const QString& dir, const QString& filter,
                      const QString& suffix, const QString& proposed) {
        return chooseFile(parent, true, QString(), dir, proposed, filter, suffix, false);
    };
    const auto tell = [](QMessageBox::Icon icon) {
        return [icon](QWidget* parent, const QString& text) {
            QMessageBox* box = messageBox(icon, text, QMessageBox::Ok, parent);
            box->exec();
            delete box;
        };
    };
    p.tellError = tell(QMessageBox::Warning);
    return p;
}

} // namespace pmx
