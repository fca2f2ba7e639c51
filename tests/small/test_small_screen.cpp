// Every window on a laptop at 150 % (1366 x 768, so 911 x 512 for the windows), in both
// languages: each opens within the screen, and the buttons that end or start its work
// are in sight, never scrolled away or cut off.
#include "MainWindowFixture.h"
#include "ui/AboutDialog.h"
#include "ui/CompareDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/FinderDialog.h"
#include "ui/FittingScrollArea.h"
#include "ui/HelpWindow.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/Prompts.h"
#include "ui/ReportWindow.h"
#include "ui/ValuePadDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QScreen>

#include <iostream>

using namespace pmx;
using namespace pmx::test;

namespace {

// The widget is wholly in sight within its window.
bool inSight(const QWidget* widget) {
    return widget->isVisible() && widget->visibleRegion().boundingRect() == widget->rect();
}

} // namespace

TEST(SmallScreen, EveryWindowFitsAndKeepsItsButtonsInSight) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(911, 512)) << "1366 x 768 at 150 %";
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        SCOPED_TRACE(lang == strings::Lang::English ? "English" : "Japanese");
        Window win(true, lang);
        MainWindow& w = *win.w;
        w.show();
        win.openEveryDialog();
        w.openFinder();
        w.setHelpFinder({[](const QString& path) { return path.startsWith(":/"); },
                         [](const QString&) { return QString(); },
                         {}});
        w.showHelp();
        w.showAllData();
        QFileDialog files;
        files.setOption(QFileDialog::DontUseNativeDialog);
        setUpFileDialog(files, true, win.home.path(), "list.csv",
                        QString::fromLatin1(strings::kCsvFileFilter), "csv");
        files.show();
        std::unique_ptr<QMessageBox> box(
            messageBox(QMessageBox::Warning,
                       strings::text(TextId::StateNotSaved)
                           .arg(win.path("a folder with a long name/PMX31570A.ini"),
                                strings::text(TextId::ReasonReadOnly)),
                       QMessageBox::Yes | QMessageBox::No, &w));
        box->show();
        QCoreApplication::processEvents();

        QWidget* report = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "rptver" && top->isVisible())
                report = top;
        const std::pair<QWidget*, QStringList> windows[] = {
            {&w, {}},
            {w.conditionsDialog(), {"Command1"}},
            {w.selectionDialog(), {"Command1", "Command2", "Command_all", "Command_none"}},
            {w.valueDialog(), {"Command3", "Command4"}},
            {w.aboutDialog(), {"Command1"}},
            {w.monitorWindow(), {"Command_save"}},
            {w.compareDialog(), {"Command_close"}},
            {w.finderDialog(), {"Command_start", "Command_close"}},
            {w.helpWindow(), {}},
            {report, {}},
            {&files, {}},
            {box.get(), {}},
        };
        for (const auto& [window, buttons] : windows) {
            ASSERT_TRUE(window);
            const std::string name = window->objectName().isEmpty()
                                         ? window->metaObject()->className()
                                         : window->objectName().toStdString();
            EXPECT_TRUE(window->isVisible()) << name;
            const QSize frame = window->size() + kFrameAllowance;
            std::cout << name << ": " << window->width() << " x " << window->height()
                      << " (on the screen " << qRound(frame.width() * 1.5) << " x "
                      << qRound(frame.height() * 1.5) << " px with its frame)\n";
            EXPECT_LE(frame.width(), screen.width()) << name;
            EXPECT_LE(frame.height(), screen.height()) << name;
            for (const QString& button : buttons)
                EXPECT_TRUE(inSight(child<QWidget>(window, button)))
                    << name << " " << button.toStdString();
        }
        // The pages' last row comes into view by the keyboard: test_themes, Screen.
        w.valueDialog()->reject();
        box->close();
    }
}
