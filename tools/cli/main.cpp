// pmx31570a-cli: the setting software without windows, for scripted configuration of many
// instruments.
#include "CliArgs.h"
#include "Commands.h"
#include "Overrides.h"
#include "ProfileCommands.h"
#include "comm/SettingsStore.h"
#include "pmx_version.h"
#include "text/ProgramMessages.h"
#include "text/StringTable.h"

#include <QCoreApplication>

using namespace pmx;
using namespace pmx::cli;

// One command for the instrument of `args` on the line of the conditions.
static int runOnLine(const Args& args) {
    QSettingsStore stored;
    OverlayStore store(stored);
    QString error;
    if (!applyOverrides(args, store, &error)) {
        printError(error);
        return kExitUsage;
    }
    if (args.command == QLatin1String("conditions"))
        return cmdConditions(store);
    if (args.command == QLatin1String("compare"))
        return cmdCompare(args, store);
    if (args.command == QLatin1String("watch"))
        return cmdWatch(args, store);
    return cmdTransfer(args, store, args.command == QLatin1String("write"));
}

// The files a run for `args` writes, each checked before any instrument is asked: a read
// must not take minutes only to find that its result has nowhere to go.
static bool outputsWritable(const Args& args) {
    for (const char* option : {"out", "trace-file"}) {
        if (!args.has(option))
            continue;
        const QString path = args.value(option);
        if (path == QLatin1String("-") || path.isEmpty()) {
            printError(strings::text(TextId::CliNeedsFile)
                           .arg(QLatin1String("--") + QLatin1String(option)));
            return false;
        }
        if (const QString why = whyNotWritable(path); !why.isEmpty()) {
            printError(strings::text(TextId::CliCannotWrite).arg(path, why));
            return false;
        }
    }
    return true;
}

// `args` for instrument `n` of a list: its number, and its own files where they hold %n.
static Args forInstrument(const Args& args, int n) {
    Args one = args;
    const QString number = QString::number(n);
    one.set("instrument", number);
    for (const char* path : {"out", "trace-file"})
        if (one.has(path))
            one.set(path, one.value(path).replace(QLatin1String("%n"), number));
    return one;
}

// The whole run; main() then ends it as a signal asks.
static int run(int argc, char** argv) {
    installStopSignals();
    setProgramName(QStringLiteral("pmx31570a-cli"));
    QStringList argvList;
    for (int k = 0; k < argc; ++k)
        argvList << QString::fromLocal8Bit(argv[k]);
    // The language first, so that every message is in it, a mistake in the arguments too.
    const QString lang = langArgument(argvList);
    strings::setLanguage(lang == QLatin1String("ja")   ? strings::Lang::Japanese
                         : lang == QLatin1String("en") ? strings::Lang::English
                                                       : strings::languageFromLocale());
    // The report's QGuiApplication may warn about the session (no XDG_RUNTIME_DIR under
    // cron or sudo); such notes are not this program's messages.
    routeQtMessages(kExitUsage);

    Args args;
    QString error;
    if (!parseArgs(argvList, &args, &error)) {
        printError(error);
        return kExitUsage;
    }
    if (args.has("version")) {
        out() << "pmx31570a-cli " << PMX_VERSION_STRING << '\n';
        return kExitOk;
    }
    const QString help = commandHelp(args.command);
    if (args.has("help")) {
        out() << (help.isEmpty() ? usageText() : help);
        return kExitOk;
    }
    if (args.command.isEmpty()) {
        printError(strings::text(TextId::CliNoCommand));
        return kExitUsage;
    }
    if (help.isEmpty()) {
        printError(strings::text(TextId::CliUnknownCommand).arg(args.command));
        return kExitUsage;
    }
    if (!optionsFitCommand(args, &error)) {
        printError(error);
        return kExitUsage;
    }
    if (args.has("lang") && args.value("lang") != QLatin1String("en") &&
        args.value("lang") != QLatin1String("ja")) {
        printError(strings::text(TextId::CliMustBe)
                       .arg(QStringLiteral("--lang"),
                            oneOf({QStringLiteral("en"), QStringLiteral("ja")})));
        return kExitUsage;
    }
    if (args.command != QLatin1String("export-csv") && args.command != QLatin1String("profile") &&
        !args.positional.isEmpty()) {
        printError(
            strings::text(TextId::CliExtraArgument).arg(args.positional.first(), args.command));
        return kExitUsage;
    }
    // The same names as the window, so the per-user folder holding the state file is the
    // window's one.
    QCoreApplication::setApplicationName(QStringLiteral("PMX31570A"));
    QCoreApplication::setOrganizationName(QStringLiteral("KORVAN DELTRIS"));

    if (args.command == QLatin1String("report"))
        return cmdReport(argc, argv, args);
    if (args.command == QLatin1String("history"))
        return cmdHistory(argc, argv, args);
    QCoreApplication app(argc, argv);
    if (args.command == QLatin1String("ports"))
        return cmdPorts(args);
    if (args.command == QLatin1String("export-csv"))
        return cmdExportCsv(args);
    if (args.command == QLatin1String("find"))
        return cmdFind(args);
    if (args.command == QLatin1String("profile"))
        return cmdProfile(args);

    QList<int> instruments;
    const Choices& c = choices();
    if (args.has("instrument") && !parseInstrumentList(args.value("instrument"), c.firstInstrument,
                                                       c.lastInstrument, &instruments)) {
        printError(strings::text(TextId::CliInstrumentList)
                       .arg(QStringLiteral("--instrument"))
                       .arg(c.firstInstrument)
                       .arg(c.lastInstrument));
        return kExitUsage;
    }
    if (instruments.size() > 1 && args.has("out") &&
        !args.value("out").contains(QLatin1String("%n"))) {
        printError(strings::text(TextId::CliOutNeedsNumber));
        return kExitUsage;
    }
    for (int n : instruments.isEmpty() ? QList<int>{-1} : instruments)
        if (!outputsWritable(n < 0 ? args : forInstrument(args, n)))
            return kExitUsage;
    if (instruments.size() <= 1)
        return runOnLine(instruments.isEmpty() ? args : forInstrument(args, instruments.first()));
    // A multi-drop line: the same command for each instrument in turn.
    int worst = kExitOk;
    for (int n : instruments) {
        Args one = forInstrument(args, n);
        // One trace file for the line: each instrument's exchanges after the last one's.
        one.traceAppend =
            n != instruments.first() && !args.value("trace-file").contains(QLatin1String("%n"));
        const int status = runOnLine(one);
        out().flush();
        if (const int signal = endingSignal()) {
            // The instruments after this one are not asked at all.
            if (!outputClosed())
                err() << strings::text(TextId::CliInstrumentExit).arg(n).arg(128 + signal) << '\n';
            break;
        }
        err() << strings::text(TextId::CliInstrumentExit).arg(n).arg(status) << '\n';
        err().flush();
        worst = worseExit(worst, status);
    }
    return worst;
}

int main(int argc, char** argv) {
    int status = run(argc, argv);
    if (const QString why = outputErrorText(); !why.isEmpty()) {
        printError(strings::text(TextId::CliCannotWrite)
                       .arg(strings::text(TextId::CliStandardOutput), why));
        status = worseExit(status, kExitUsage);
    }
    // A stop or a closed output ends the program as the signal would have, once the port
    // is closed and every file is whole.
    if (const int signal = endingSignal())
        endBySignal(signal);
    return status;
}
