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
    kExitNothingFound = 4,
    kExitChangeLog = 5 // the change log cannot be written: the write did not start or stopped
};

// One option of the program. A new option is one more row of the table in CliArgs.cpp;
// the parser, the check that the command takes it and the error texts follow from it.
struct OptionSpec {
    const char* name;     // the long name, without dashes
    char letter;          // the short name ('\0' for none)
    bool valued;          // takes a value ("--rate 9600", "-b9600"); otherwise a switch
    const char* commands; // the commands that take it, separated by blanks; null: every one
};
// Every option, in the order of the table.
const QList<OptionSpec>& optionSpecs();
// The commands, in the order of the usage text.
const QStringList& commandNames();

struct Args {
    QString command; // the first word that is not an option
    QStringList positional;
    // Every option given, by long name: its values in the order given (none for a switch).
    QMap<QString, QStringList> given;
    bool traceAppend = false; // a later instrument of a list: its trace follows the others'

    bool has(const char* name) const { return given.contains(QLatin1String(name)); }
    // The last value given (an option given twice takes the later one).
    QString value(const char* name) const {
        const QStringList v = given.value(QLatin1String(name));
        return v.isEmpty() ? QString() : v.last();
    }
    QStringList values(const char* name) const { return given.value(QLatin1String(name)); }
    void set(const char* name, const QString& value) {
        given.insert(QLatin1String(name), QStringList{value});
    }
    void remove(const char* name) { given.remove(QLatin1String(name)); }
};

// `argv` with the program name first. Options may come before or after the command, as
// "--name value", "--name=value", "-a value", "-avalue" or switches together ("-qh");
// "--" ends the options and "-" alone is a word (standard output for a file name). An
// unknown option or a missing value gives false and a one-line *error in the run's
// language.
bool parseArgs(const QStringList& argv, Args* args, QString* error);
// False, with a one-line *error, when an option given does not belong to the command.
bool optionsFitCommand(const Args& args, QString* error);
// The language --lang asks for among `argv`, if any: so that even a mistake in the other
// arguments is reported in it.
QString langArgument(const QStringList& argv);

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
