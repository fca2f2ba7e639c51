#include "app/MainDisp.h"
#include "comm/SerialComm.h"
#include "model/AppPaths.h"
#include "ui/strings/StringTable.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QEvent>
#include <QTranslator>
#include <cstdio>

namespace {
class FirstPaintProbe : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PMX31570A"));
    QApplication::setOrganizationName(QStringLiteral("KORVAN DELTRIS"));

    // One language for the run, from the user's locale; Qt's own dialogs follow it.
    const pmx::strings::Lang lang = pmx::strings::languageFromLocale();
    pmx::strings::setLanguage(lang);
    QTranslator qtTranslator;
    if (lang == pmx::strings::Lang::Japanese) {
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        if (qtTranslator.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(&qtTranslator);
    }

    pmx::ensureCsvFolder(); // a failure only matters to the export, which reports it

    pmx::MainDisp window(std::make_unique<pmx::SerialComm>(), pmx::UserPrompts::interactive());
    if (qEnvironmentVariableIsSet("PMX31570A_REPORT_SHOWN")) {
        // For the start-up benchmark: tell when the window first paints.
        auto* probe = new FirstPaintProbe(&window);
        window.installEventFilter(probe);
    }
    window.communicate();
    return QApplication::exec();
}
