#include "CliArgs.h"

#include "Overrides.h"

#include <QCommandLineParser>

namespace pmx::cli {

namespace {

const char* const kValued[] = {
    "protocol",  "instrument", "rate",        "data-bits",   "stop-bits", "parity",
    "port",      "timeout",    "lang",        "table",       "out",       "pdf",
    "block-max", "trace-file", "instruments", "answer-wait", "encoding"};

const char* const kCommandHelp[][2] = {
    {"conditions",
     "pmx31570a-cli [OPTIONS] conditions\n"
     "Applies the communication conditions, opens the port and prints the eight status\n"
     "values as \"caption: value\". Exit 0, or 3 when the port cannot be opened.\n"},
    {"read", "pmx31570a-cli [OPTIONS] read [--table IN.dat] [--out OUT.dat] [--hex]\n"
             "Reads every item selected in IN.dat from the instrument and prints one line per\n"
             "item as it is read: address, name, value (DEC, or HEX with --hex). Failed items\n"
             "go to standard error, and the run ends with \"read: N items, G good, F failed\"\n"
             "there (not with --quiet), naming the items a stop or a lost device left unread.\n"
             "--out writes the updated table file after a read that reached every item; after\n"
             "Ctrl+C, SIGTERM or a lost device it is not written (the file stays as it was)\n"
             "and standard error says so.\n"},
    {"write", "pmx31570a-cli [OPTIONS] write --table IN.dat [--only-changed] [--verify]\n"
              "Writes IN.dat's selected items to the instrument in the program's order (0044h,\n"
              "0023h, 0024h, 0049h, 004Ah first, then ascending from 0001h; never 0000h).\n"
              "--only-changed reads the selected items first and writes only those whose value\n"
              "differs (items that cannot be read are not written). --verify reads every\n"
              "written item back and prints \"0023h: wrote 1500, instrument holds 1000\" to\n"
              "standard error for each value the instrument did not keep.\n"
              "Ends with \"write: N items, G good, F failed\" on standard error; with --verify\n"
              "an item the instrument did not keep is counted as \"not kept\", not as good.\n"
              "Exit 0 all written (and kept), 1 some items failed, 4 a read-back differs.\n"},
    {"compare", "pmx31570a-cli [OPTIONS] compare [--table IN.dat] [--hex]\n"
                "Reads every item selected in IN.dat from the instrument (the file is not\n"
                "changed) and prints one line per item that differs: address, name, value in\n"
                "the file, value in the instrument; or, for an item that could not be read,\n"
                "address, name, value in the file and the reason. A last line on standard\n"
                "error gives the counts.\n"
                "Exit 0 everything matches, 4 values differ, 1 items could not be read (1 wins\n"
                "over 4), 2 and 3 as for read.\n"},
    {"ports", "pmx31570a-cli ports\nLists the serial devices found and what COM1..COM8 open.\n"},
    {"find", "pmx31570a-cli [OPTIONS] find [--port P]... [--protocol P]... [--instruments LIST]\n"
             "                              [--answer-wait MS] [--table IN.dat]\n"
             "Searches for instruments: one read of item 0000h per try, on each port (--port\n"
             "COMn, a device path or tcp://HOST:PORT, repeatable; --port all: every serial device\n"
             "found; default: the port in effect), in each protocol (repeatable; default: all\n"
             "three, the one in effect first), at every rate, data bit, parity and stop bit entry\n"
             "of the conditions dialog that the protocol can use (Modbus RTU: 8 data bits only),\n"
             "and at each instrument number of LIST (1,3,5-9; default: the one in effect; 0 is\n"
             "never tried under Modbus, where it is the broadcast address). The conditions in\n"
             "effect are tried first, and --rate, --data-bits, --parity, --stop-bits and\n"
             "--instrument change which those are. Any answer of the instrument tried, a NAK or\n"
             "Modbus exception included, proves the settings; a garbled answer moves the tries\n"
             "at its rate forward. Each try waits MS (default 80, 20..2000) plus the time of its\n"
             "frame at the rate. Standard error first states how long the search takes if\n"
             "nothing answers, then shows each try.\n"
             "The search ends at the first instrument found, unless LIST names more than one\n"
             "number: then the other numbers are tried with the protocol and line settings found.\n"
             "Prints one line per instrument found, as options read accepts, for example\n"
             "  --port /dev/ttyUSB0 --protocol \"Modbus ASCII\" --instrument 17 --rate 4800\n"
             "  --data-bits 7 --parity EVEN --stop-bits 2\n"
             "Nothing is stored. Exit 0 found, 4 nothing answered, 3 no port could be opened.\n"},
    {"export-csv",
     "pmx31570a-cli export-csv [--table IN.dat] [--hex] [--lang en|ja]\n"
     "                          [--encoding utf-8|utf-8-bom|shift_jis] OUT.csv\n"
     "Appends the all-data list of IN.dat to OUT.csv, as the Export menu does, in\n"
     "UTF-8 unless --encoding chooses UTF-8 with a byte-order mark or Shift_JIS (for\n"
     "spreadsheet programs on Japanese systems). A file that already holds text in\n"
     "another encoding keeps its own, and standard error says so. A block that does\n"
     "not go in whole (a full disk) is taken back: the file keeps its old length.\n"},
    {"report", "pmx31570a-cli report [--table IN.dat] [--hex] [--lang en|ja] --pdf OUT.pdf\n"
               "Renders the all-data list report of IN.dat to a PDF file.\n"},
};

// Qt's "Unknown option 'x'." as one of this program's error lines.
QString errorLine(QString text) {
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text + QStringLiteral(" (see --help)");
}

} // namespace

bool parseArgs(const QStringList& argv, Args* args, QString* error) {
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption hex(QStringLiteral("hex"));
    const QCommandLineOption onlyChanged(QStringLiteral("only-changed"));
    const QCommandLineOption verify(QStringLiteral("verify"));
    const QCommandLineOption blockRead(QStringLiteral("block-read"));
    const QCommandLineOption trace(QStringLiteral("trace"));
    const QCommandLineOption progress(QStringLiteral("progress"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    parser.addOptions({help, version, hex, blockRead, trace, progress, quiet, onlyChanged, verify});
    for (const char* name : kValued)
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    if (!parser.parse(argv)) {
        *error = errorLine(parser.errorText());
        return false;
    }
    for (const char* name : kValued) {
        const QString n = QString::fromLatin1(name);
        if (parser.isSet(n)) {
            args->options.insert(n, parser.value(n));
            args->lists.insert(n, parser.values(n));
        }
    }
    if (parser.isSet(blockRead))
        args->options.insert(QStringLiteral("block-read"), QString());
    args->help = parser.isSet(help);
    args->version = parser.isSet(version);
    args->hex = parser.isSet(hex);
    args->onlyChanged = parser.isSet(onlyChanged);
    args->verify = parser.isSet(verify);
    args->trace = parser.isSet(trace);
    args->progress = parser.isSet(progress);
    args->quiet = parser.isSet(quiet);
    args->positional = parser.positionalArguments();
    if (!args->positional.isEmpty())
        args->command = args->positional.takeFirst();
    return true;
}

bool parseInstrumentList(const QString& text, int first, int last, QList<int>* instruments) {
    instruments->clear();
    QList<bool> named(qsizetype(last - first + 1), false);
    const auto inRange = [&](const QString& t, int* n) {
        bool ok = false;
        *n = t.toInt(&ok);
        return ok && *n >= first && *n <= last;
    };
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        int from = 0, to = 0;
        if (ends.size() > 2 || !inRange(ends[0], &from) || !inRange(ends.value(1, ends[0]), &to) ||
            to < from)
            return false;
        for (int n = from; n <= to; ++n) { // both ends lie in first..last: no overflow
            if (!named[n - first])
                instruments->append(n);
            named[n - first] = true;
        }
    }
    return !instruments->isEmpty();
}

int worseExit(int a, int b) {
    const auto rank = [](int status) {
        switch (status) {
        case kExitOk:
            return 0;
        case kExitDiffer:
            return 1;
        case kExitSomeFailed:
            return 2;
        case kExitUsage:
            return 3;
        default:
            return 4;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

QString usageText() {
    const Choices& c = choices();
    return QStringLiteral(
               "Usage:\n"
               "  pmx31570a-cli [OPTIONS] conditions\n"
               "  pmx31570a-cli [OPTIONS] read  [--table IN.dat] [--out OUT.dat] [--hex]\n"
               "  pmx31570a-cli [OPTIONS] write --table IN.dat [--only-changed] [--verify]\n"
               "  pmx31570a-cli [OPTIONS] compare [--table IN.dat] [--hex]\n"
               "  pmx31570a-cli ports\n"
               "  pmx31570a-cli [OPTIONS] find [--port P]... [--protocol P]... [--instruments "
               "LIST]\n"
               "  pmx31570a-cli export-csv [--table IN.dat] [--hex] [--lang en|ja]\n"
               "                           [--encoding utf-8|utf-8-bom|shift_jis] OUT.csv\n"
               "  pmx31570a-cli report     [--table IN.dat] [--hex] [--lang en|ja] --pdf OUT.pdf\n"
               "  pmx31570a-cli --version | --help | COMMAND --help\n"
               "\n"
               "OPTIONS override the stored communication conditions for this run only; they are\n"
               "never stored:\n"
               "  --protocol %1   --instrument N (%2..%3)\n"
               "  --rate %4   --data-bits %5   --stop-bits %6\n"
               "  --parity %7   --timeout MS (%8..%9)\n"
               "  --port COMn|/dev/DEVICE|tcp://HOST:PORT   (a device server's address)\n"
               "  --block-read   Modbus: read runs of consecutive items with one request each\n"
               "  --block-max N  registers per request for --block-read (2..125, default 125)\n"
               "  --lang en|ja   (default: from the locale)\n"
               "read and write also take:\n"
               "  --trace   every exchange on standard error, one line each\n"
               "  --trace-file FILE   the same lines into FILE, which takes its place when the\n"
               "                      run ends\n"
               "  --progress   the progress line even when standard error is not a terminal\n"
               "  --quiet   nothing on standard error but errors (no progress, no summary)\n"
               "An option's value follows it as the next word or after '=' (--rate=9600).\n"
               "Without them the stored conditions apply, with the same validation as the program\n"
               "(invalid stored values fall back to their defaults; nothing is written back).\n"
               "\n"
               "IN.dat defaults to the program's state file PMX31570A.ini.\n"
               "--instrument may name several instruments on one line (1,3,5-9): the command\n"
               "runs for each in turn, a line \"instrument N: exit S\" goes to standard error\n"
               "after each, and the worst status is the program's. --out must then hold %n,\n"
               "replaced by the instrument number; --trace-file FILE gets every instrument's\n"
               "exchanges in turn, or one file each when FILE holds %n.\n"
               "Every file is written whole or not at all: should the disk be full or a size\n"
               "limit be reached, the old file stays as it was and the error names the reason.\n"
               "Ctrl+C (SIGINT) or SIGTERM ends a run before its next exchange: what was read is\n"
               "printed with the summary, --out is not written; a second one ends it at once.\n"
               "A closed standard output (read | head -1) ends the run quietly the same way.\n"
               "Exit status: 0 all items good, 1 some items failed, 2 bad arguments or a file\n"
               "that could not be read or written, 3 the port could not be opened or was lost,\n"
               "4 values differ (compare) or a written value was not kept (write --verify) or\n"
               "nothing answered (find); 1 wins over 4. Ended by a signal, as shells report\n"
               "it: 130 Ctrl+C (SIGINT), 143 SIGTERM, 141 closed output (SIGPIPE).\n")
        .arg(alternatives(c.protocols))
        .arg(c.firstInstrument)
        .arg(c.lastInstrument)
        .arg(alternatives(c.rates), alternatives(c.dataBits), alternatives(c.stopBits),
             alternatives(c.parities))
        .arg(c.minTimeoutMs)
        .arg(c.maxTimeoutMs);
}

QString commandHelp(const QString& command) {
    for (const auto& [name, text] : kCommandHelp)
        if (command == QLatin1String(name))
            return QString::fromLatin1(text);
    return {};
}

} // namespace pmx::cli
