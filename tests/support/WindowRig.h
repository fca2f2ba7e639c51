#pragma once
// The main window offscreen with a fake communication object and scripted prompts, in
// a private home folder, started as the program starts it.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "app/MainWindow.h"
#include "text/StringTable.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <memory>

namespace pmx::test {

struct WindowRig : ScriptedPrompts {
    QTemporaryDir home;
    FakeComm* com = nullptr;
    std::unique_ptr<MainWindow> w;

    explicit WindowRig(strings::Lang lang = strings::Lang::English) {
        strings::setLanguage(lang);
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        auto fake = std::make_unique<FakeComm>();
        com = fake.get();
        w = std::make_unique<MainWindow>(std::move(fake), prompts());
        w->startCommunication();
        QCoreApplication::processEvents();
        w->onDispatcherTick(); // the first tick applies the conditions
    }
    ~WindowRig() {
        if (w)
            w->hide();
        strings::setLanguage(strings::Lang::English);
    }
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
