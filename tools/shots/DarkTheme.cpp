// PMX_SHOTS_DARK=1: the pictures on a dark desktop theme, Fusion with a dark palette.
// The program itself takes the desktop's style and colours; only the pictures ask for one.
#include "ui/Colours.h"

#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

namespace {

void darkThemeOnRequest() {
    if (qEnvironmentVariableIntValue("PMX_SHOTS_DARK") != 1)
        return;
    // At the first pass of the event loop: the application is whole by then, and every
    // window built so far is polished again under the new style and palette.
    QTimer::singleShot(0, qApp, [] {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(pmx::darkPalette());
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(darkThemeOnRequest)
