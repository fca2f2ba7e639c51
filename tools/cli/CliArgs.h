#pragma once
// The command line of pmx31570a-cli: its options, help texts and exit statuses.
#include <QMap>
#include <QString>
#include <QStringList>

namespace pmx::cli {

// kExitDiffer: compare found values that differ, or write --verify read back another value.
// kExitNothingFound: find found no instrument.
enum Exit {
    kExitOk = 0,
    kExitSomeFailed = 1,
    kExitUsage = 2,
    kExitPort = 3,
    kExitDiffer = 4,
    kExitNothingFound = 4
};

struct Args {
    QString command; // the first word that is not an option
    QStringList positional;
    QMap<QString, QString> options;   // valued options given, by name without dashes
    QMap<QString, QStringList> lists; // every value of each, for options that may repeat
    bool hex = false;
    bool onlyChanged = false; // write: read first, write only the differing items
    bool verify = false;      // write: read every written item back
    bool help = false;
    bool version = false;
    bool trace = false;       // every exchange on standard error
    bool progress = false;    // the progress line even when standard error is not a terminal
    bool quiet = false;       // nothing but errors (and a trace asked for)
    bool traceAppend = false; // a later instrument of a list: its trace follows the others'

    bool has(const char* name) const { return options.contains(QLatin1String(name)); }
    QString value(const char* name) const { return options.value(QLatin1String(name)); }
    QStringList values(const char* name) const { return lists.value(QLatin1String(name)); }
};

// `argv` with the program name first. Options may come before or after the command, as
// "--name value" or "--name=value". An unknown option or a missing value gives false and
// a one-line *error.
bool parseArgs(const QStringList& argv, Args* args, QString* error);

// "1,3,5-9": numbers from `first` to `last` and ascending ranges of them, in the order
// given, each once. False for an empty or malformed list or a number outside first..last
// (so no list, however written, makes more than last - first + 1 numbers).
bool parseInstrumentList(const QString& text, int first, int last, QList<int>* instruments);

// Of two exit statuses the one that says more is wrong: 3, 2, 1, 4, then 0.
int worseExit(int a, int b);

QString usageText();
// The help of one command; empty for a word that is not a command.
QString commandHelp(const QString& command);

} // namespace pmx::cli
