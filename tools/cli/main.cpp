// pmx31570a-cli: the setting software without windows, for scripted configuration of many
// instruments.
#include "CliArgs.h"
#include "Commands.h"
#include "Overrides.h"
#include "comm/SettingsStore.h"
#include "pmx_version.h"
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
        err() << "error: " << error << '\n';
        return kExitUsage;
    }
    if (args.command == QLatin1String("conditions"))
        return cmdConditions(store);
    if (args.command == QLatin1String("compare"))
        return cmdCompare(args, store);
    return cmdTransfer(args, store, args.command == QLatin1String("write"));
}

// The whole run; main() then ends it as a signal asks.
static int run(int argc, char** argv) {
    installStopSignals();
    QStringList argvList;
    for (int k = 0; k < argc; ++k)
        argvList << QString::fromLocal8Bit(argv[k]);
    Args args;
    QString error;
    if (!parseArgs(argvList, &args, &error)) {
        err() << "error: " << error << '\n';
        return kExitUsage;
    }
    if (args.version) {
        out() << "pmx31570a-cli " << PMX_VERSION_STRING << '\n';
        return kExitOk;
    }
    const QString help = commandHelp(args.command);
    if (args.command.isEmpty() || (args.help && help.isEmpty())) {
        (args.help ? out() : err()) << usageText();
        return args.help ? kExitOk : kExitUsage;
    }
    if (help.isEmpty()) {
        err() << "error: unknown command " << args.command << "\n\n" << usageText();
        return kExitUsage;
    }
    if (args.help) {
        out() << help;
        return kExitOk;
    }

    strings::Lang lang = strings::languageFromLocale();
    if (args.has("lang")) {
        const QString l = args.value("lang");
        if (l != QLatin1String("en") && l != QLatin1String("ja")) {
            err() << "error: --lang must be en or ja\n";
            return kExitUsage;
        }
        lang = l == QLatin1String("ja") ? strings::Lang::Japanese : strings::Lang::English;
    }
    strings::setLanguage(lang);
    // The same names as the window, so the per-user folder holding the state file is the
    // window's one.
    QCoreApplication::setApplicationName(QStringLiteral("PMX31570A"));
    QCoreApplication::setOrganizationName(QStringLiteral("KORVAN DELTRIS"));

    if (args.command == QLatin1String("report"))
        return cmdReport(argc, argv, args);
    QCoreApplication app(argc, argv);
    if (args.command == QLatin1String("ports"))
        return cmdPorts();
    if (args.command == QLatin1String("export-csv"))
        return cmdExportCsv(args);
    if (args.command == QLatin1String("find"))
        return cmdFind(args);

    QList<int> instruments;
    const Choices& c = choices();
    if (args.has("instrument") && !parseInstrumentList(args.value("instrument"), c.firstInstrument,
                                                       c.lastInstrument, &instruments)) {
        err() << "error: --instrument must be " << c.firstInstrument << ".." << c.lastInstrument
              << " or a list of them such as 1,3,5-9\n";
        return kExitUsage;
    }
    if (instruments.size() <= 1) {
        Args one = args;
        if (!instruments.isEmpty())
            one.options[QStringLiteral("instrument")] = QString::number(instruments.first());
        return runOnLine(one);
    }
    if (args.has("out") && !args.value("out").contains(QLatin1String("%n"))) {
        err() << "error: --out must hold %n when several instruments are named\n";
        return kExitUsage;
    }
    // A multi-drop line: the same command for each instrument in turn.
    int worst = kExitOk;
    for (int n : instruments) {
        Args one = args;
        const QString number = QString::number(n);
        one.options[QStringLiteral("instrument")] = number;
        for (const char* path : {"out", "trace-file"})
            if (one.has(path))
                one.options[QLatin1String(path)] =
                    one.value(path).replace(QLatin1String("%n"), number);
        // One trace file for the line: each instrument's exchanges after the last one's.
        one.traceAppend =
            n != instruments.first() && !args.value("trace-file").contains(QLatin1String("%n"));
        const int status = runOnLine(one);
        out().flush();
        if (const int signal = endingSignal()) {
            // The instruments after this one are not asked at all.
            if (!outputClosed())
                err() << "instrument " << n << ": exit " << 128 + signal << '\n';
            break;
        }
        err() << "instrument " << n << ": exit " << status << '\n';
        err().flush();
        worst = worseExit(worst, status);
    }
    return worst;
}

int main(int argc, char** argv) {
    int status = run(argc, argv);
    if (const QString why = outputErrorText(); !why.isEmpty()) {
        err() << "error: cannot write standard output: " << why << '\n';
        status = worseExit(status, kExitUsage);
    }
    // A stop or a closed output ends the program as the signal would have, once the port
    // is closed and every file is whole.
    if (const int signal = endingSignal())
        endBySignal(signal);
    return status;
}
