#pragma once
#include "text/StringTable.h"

#include <functional>

class QTranslator;

namespace pmx {

class MainWindow;

// Sets the run's language from the user's locale and, for Japanese, loads Qt's own
// dialog texts into `qtTranslator` and installs it; the translator must outlive the
// windows. Returns the language.
strings::Lang setUpLanguage(QTranslator& qtTranslator);

// The whole run of the program: application names, the language from the user's locale
// (Qt's own dialogs follow it), the CSV folder, the main window. `beforeStart` sees the
// window before its communication starts. Returns the exit status of the event loop.
int runProgram(int argc, char** argv, const std::function<void(MainWindow&)>& beforeStart = {});

} // namespace pmx
