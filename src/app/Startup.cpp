#include "app/Startup.h"

#include "app/MainWindow.h"
#include "comm/SerialComm.h"
#include "model/AppPaths.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pmx {

strings::Lang setUpLanguage(QTranslator& qtTranslator) {
    // One language for the run, from the user's locale; Qt's own dialogs follow it.
    const strings::Lang lang = strings::languageFromLocale();
    strings::setLanguage(lang);
    if (lang == strings::Lang::Japanese) {
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        if (qtTranslator.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"),
                              QStringLiteral("_"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(&qtTranslator);
    }
    return lang;
}

int runProgram(int argc, char** argv, const std::function<void(MainWindow&)>& beforeStart) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PMX31570A"));
    QApplication::setOrganizationName(QStringLiteral("KORVAN DELTRIS"));
    QTranslator qtTranslator;
    setUpLanguage(qtTranslator);

    ensureCsvFolder(); // a failure only matters to the export, which reports it

    MainWindow window(std::make_unique<SerialComm>(), UserPrompts::interactive());
    if (beforeStart)
        beforeStart(window);
    window.startCommunication();
    return QApplication::exec();
}

} // namespace pmx
