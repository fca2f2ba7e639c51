#pragma once
// What the three programs say on standard error: one line per message, beginning with
// the program's name, and nothing of the toolkit's own chatter.
#include <QString>

namespace pmx {

// The name every line on standard error begins with ("pmx31570a-cli"); set at start-up.
void setProgramName(const QString& name);
QString programName();

// "pmx31570a-cli: TEXT": one line, whatever line ends the text holds.
QString errorLine(const QString& text);

// Qt's own messages for a person at a terminal or a job under cron or sudo: the toolkit's
// debug output, notes and warnings ("XDG_RUNTIME_DIR not set", a platform plugin's notes)
// are not theirs to act on and are dropped; the program's own categories (pmx.*) and a
// critical message go out as one error line; a fatal one too, and then the program ends
// with `fatalStatus`. A fatal failure to reach a display names the window. With
// QT_LOGGING_RULES or QT_MESSAGE_PATTERN set, a developer asked for Qt's messages, and they
// go out as Qt writes them.
void routeQtMessages(int fatalStatus = 1);

} // namespace pmx
