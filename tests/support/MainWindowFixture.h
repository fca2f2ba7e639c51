#pragma once
// The main window offscreen with a fake communication object, scripted prompts, a private
// application directory and settings, and its widgets by their object names.
#include "FakeComm.h"
#include "ScriptedPrompts.h"
#include "TestPrinters.h"
#include "Widgets.h"
#include "app/MainWindow.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
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

namespace pmx::test {

inline PrivateSettingsScope g_scope;

// The window over a communication object of type Comm (a FakeComm). Every window starts
// from the default conditions on COM1, whatever an earlier test stored.
template <class Comm> struct WindowOver : ScriptedPrompts {
    QTemporaryDir home;
    Comm* com = nullptr;
    std::unique_ptr<MainWindow> w;

    explicit WindowOver(bool start = true, strings::Lang lang = strings::Lang::English,
                        std::function<void(const QString&)> beforeStart = {}) {
        strings::setLanguage(lang);
        qputenv("PMX31570A_HOME", home.path().toUtf8());
        QSettingsStore store;
        cond::writeStored(store, {"KORVAN", "0", "9600", "7 bit", "1 bit", "EVEN", "COM1", "300"});
        store.setValue(PortMap::kSection, QStringLiteral("COM1"), QString());
        // No folder remembered from an earlier window, the export's encoding the default.
        for (const char* key : {"ModelFolder", "DataFolder", "CsvFolder", "CsvEncoding"})
            store.remove(cond::kOptionsSection, QLatin1String(key));
        if (beforeStart)
            beforeStart(home.path());
        auto fake = std::make_unique<Comm>();
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
    // Opens every dialog of the main window, the comparison (with its exchanges) included.
    void openEveryDialog() {
        w->editValue(3);
        w->openItemSelection();
        w->openConditions();
        w->showAbout();
        w->openMonitor();
        w->postTask(kTaskCompare);
        w->onDispatcherTick();
    }
    ~WindowOver() {
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
    QByteArray read(const char* name) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        return f.readAll();
    }

    // The window's widgets by their object names.
    QTabBar* tabs() const { return child<QTabBar>(w.get(), "TabStrip1"); }
    QLineEdit* valueCell(int row) const { return child<QLineEdit>(w.get(), "Data0", row); }
    QCheckBox* selectBox(int row) const { return child<QCheckBox>(w.get(), "Check_Command", row); }
    QRadioButton* hexButton() const { return child<QRadioButton>(w.get(), "Option1_1"); }
    QPushButton* readButton() const { return child<QPushButton>(w.get(), "Command_Move_0"); }
    QPushButton* writeButton() const { return child<QPushButton>(w.get(), "Command_Move_1"); }
    QPushButton* loadButton() const { return child<QPushButton>(w.get(), "Command_File_0"); }
    QPushButton* saveButton() const { return child<QPushButton>(w.get(), "Command_File_1"); }
    QLabel* modelLabel() const { return child<QLabel>(w.get(), "Label_Modelname"); }
    QLabel* portLabel() const { return child<QLabel>(w.get(), "Label_port"); }
    QAction* action(const char* name) const { return child<QAction>(w.get(), name); }
    // The status frame's eight condition texts, joined by '|'.
    QString statusFrame() const {
        QStringList shown;
        for (int k = 0; k < 8; ++k)
            shown << child<QLabel>(w.get(), "Label_commdat", k)->text();
        return shown.join('|');
    }
};
using Window = WindowOver<FakeComm>;

} // namespace pmx::test
