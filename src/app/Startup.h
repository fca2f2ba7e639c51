#pragma once
#include "text/StringTable.h"

#include <QStringList>

#include <functional>

class QTranslator;

namespace pmx {

class MainWindow;

// Sets the run's language from the user's locale and, for Japanese, loads Qt's own
// dialog texts into `qtTranslator` and installs it; the translator must outlive the
// windows. Returns the language.
strings::Lang setUpLanguage(QTranslator& qtTranslator);

// The desktop file the installed program's entry is, without ".desktop"; the desktop
// associates the program's windows with that entry by it.
inline constexpr char kDesktopFileName[] = "pmx31570a";

// Names of the application (settings and data folders follow them), its icon for every
// window, and its desktop entry.
void setUpApplication();

// What the window program prints for an option that asks about it (--version, --help)
// instead of starting; empty when it should start. Other arguments are the toolkit's.
QString infoOptionText(const QStringList& args);

// The whole run of the program: application names, the language from the user's locale
// (Qt's own dialogs follow it), the CSV folder, the main window. `beforeStart` sees the
// window before its communication starts. Returns the exit status of the event loop, or
// 128 + the signal when SIGTERM, SIGINT or SIGHUP ended the run (MainWindow::endOnRequest;
// a second such signal ends the program at once).
int runProgram(int argc, char** argv, const std::function<void(MainWindow&)>& beforeStart = {});

// The signal that ended the run, 0 when none did.
int endingSignal();
// Ends the program by endingSignal() where there is one, as an uncaught signal would,
// so that whoever started it sees how it ended. Returns when there is none.
void endAsSignalled();

} // namespace pmx
