#pragma once
// The main window offscreen with a fake communication object, scripted prompts, a private
// application directory and settings, and its widgets by their object names.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "Widgets.h"
#include "app/MainWindow.h"
#include "text/StringTable.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace pmx::test {

inline PrivateSettingsScope g_scope;

struct Window : ScriptedPrompts {
    QTemporaryDir home;
    FakeComm* com = nullptr;
    std::unique_ptr<MainWindow> w;

    explicit Window(bool start = true, strings::Lang lang = strings::Lang::English,
                    std::function<void(const QString&)> beforeStart = {}) {
        strings::setLanguage(lang);
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        if (beforeStart)
            beforeStart(home.path());
        auto fake = std::make_unique<FakeComm>();
        com = fake.get();
        w = std::make_unique<MainWindow>(std::move(fake), prompts());
        if (start)
            this->start();
    }
    void start() {
        w->startCommunication();
        QCoreApplication::processEvents();
        w->onDispatcherTick(); // the first tick applies the conditions
    }
    // Changes the window's items as a test needs them.
    void edit(const std::function<void(ItemTable&)>& change) {
        ItemTable t = w->items();
        change(t);
        w->setItems(t);
    }
    ~Window() {
        if (w)
            w->hide();
        strings::setLanguage(strings::Lang::English);
    }
    QString path(const char* name) const { return home.path() + '/' + QLatin1String(name); }
    QString file(const char* name, const QByteArray& bytes) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return path(name);
    }
};

// The main window's widgets by their object names.
inline QTabBar* tabs(MainWindow& w) {
    return child<QTabBar>(&w, "TabStrip1");
}
inline QLineEdit* valueCell(MainWindow& w, int row) {
    return child<QLineEdit>(&w, "Data0", row);
}
inline QCheckBox* selectBox(MainWindow& w, int row) {
    return child<QCheckBox>(&w, "Check_Command", row);
}
inline QRadioButton* hexButton(MainWindow& w) {
    return child<QRadioButton>(&w, "Option1_1");
}
inline QPushButton* readButton(MainWindow& w) {
    return child<QPushButton>(&w, "Command_Move_0");
}
inline QPushButton* writeButton(MainWindow& w) {
    return child<QPushButton>(&w, "Command_Move_1");
}
inline QPushButton* loadButton(MainWindow& w) {
    return child<QPushButton>(&w, "Command_File_0");
}
inline QPushButton* saveButton(MainWindow& w) {
    return child<QPushButton>(&w, "Command_File_1");
}
inline QLabel* modelLabel(MainWindow& w) {
    return child<QLabel>(&w, "Label_Modelname");
}
inline QAction* action(MainWindow& w, const char* name) {
    return child<QAction>(&w, QString::fromLatin1(name));
}

} // namespace pmx::test
