#pragma once
// The main window offscreen with a fake communication object and scripted prompts, in
// a private home folder, started as the program starts it.
#include "MainWindowFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <memory>

namespace pmx::test {

// The fixture's window, started as the program starts it.
struct WindowRig : Window {
    explicit WindowRig(strings::Lang lang = strings::Lang::English) : Window(true, lang) {}
};

// Hang guard only: a window is normally active after one pass of the event loop.
inline bool activate(QWidget* window) {
    window->activateWindow();
    QDeadlineTimer guard(20000);
    while (!window->isActiveWindow() && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return window->isActiveWindow();
}

} // namespace pmx::test
