#pragma once
// Widgets of a window by their stable object names (docs/architecture.md), for tests
// that drive the windows as an operator or an accessibility tool would.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

#include <stdexcept>

namespace pmx::test {

// The child of `parent` named `name`; the test fails (and stops) when there is none.
template <class T> T* child(const QObject* parent, const QString& name) {
    T* found = parent->findChild<T*>(name);
    if (!found) {
        ADD_FAILURE() << "no child named " << name.toStdString();
        throw std::runtime_error("missing child widget");
    }
    return found;
}

// The child named `name` + "_" + index, as rows and button pairs are named.
template <class T> T* child(const QObject* parent, const QString& name, int index) {
    return child<T>(parent, name + QLatin1Char('_') + QString::number(index));
}

// Activates a window. Hang guard only: a window is normally active after one pass of the
// event loop.
inline bool activate(QWidget* window) {
    window->activateWindow();
    QDeadlineTimer guard(20000);
    while (!window->isActiveWindow() && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return window->isActiveWindow();
}

} // namespace pmx::test
