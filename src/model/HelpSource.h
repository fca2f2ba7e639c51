#pragma once
#include "text/StringTable.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace pmx::help {

// The help file of a language in the application directory: PMX-31570A_E.chm or
// PMX-31570A_J.chm.
QString helpFilePath(const QString& appDir, strings::Lang lang);

// The user guide built into the program (a Qt resource), in the language given.
QString guideResource(strings::Lang lang);

// The viewers Help tries for the help file, in order: the one the operator named
// (PMX31570A_HELP_VIEWER) first, then the usual ones.
QStringList viewerCandidates(const QString& configured);

// What Help looks at, replaceable so that every route can be tried without the files
// and programs of the machine.
struct HelpFinder {
    std::function<bool(const QString& path)> fileExists;        // files and ":/" resources
    std::function<QString(const QString& name)> findExecutable; // empty when not found
    QString configuredViewer;
    // The machine's files, its PATH and PMX31570A_HELP_VIEWER.
    static HelpFinder system();
};

enum class HelpRoute {
    Viewer, // the help file with an outside viewer
    Guide,  // the built-in guide in the program's own window
    None,   // neither: `reason` says why
};

struct HelpChoice {
    HelpRoute route = HelpRoute::None;
    QString file;   // the help file (Viewer) or the guide resource (Guide)
    QString viewer; // the viewer's executable (Viewer)
    QString reason; // why there is no help (None), in the language asked for
};

// The help file when it exists and a viewer for it is found; otherwise the built-in
// guide of the language; otherwise nothing, with the reason.
HelpChoice chooseHelp(const QString& helpFile, strings::Lang lang, const HelpFinder& finder);

// The anchor a heading gets, as links written in the guides name it: lower case, spaces
// to hyphens, punctuation dropped, letters of every script kept ("1. Installing" ->
// "1-installing").
QString headingAnchor(const QString& heading);

// Markdown joins the lines of a paragraph with a space; between two Japanese characters
// that space does not belong. Joins such lines without it, leaving everything else (and
// every line that starts a list, table, heading or code) as it is.
QString joinWrappedLines(const QString& markdown);

} // namespace pmx::help
