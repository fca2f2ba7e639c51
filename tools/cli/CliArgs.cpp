#include "CliArgs.h"

#include "Overrides.h"
#include "text/StringTable.h"

namespace pmx::cli {

namespace {

// The commands that talk to an instrument over the line of the conditions.
constexpr char kLine[] = "conditions read write compare find watch";

// Short names are the ones scripts of serial and Modbus tools already type for the same
// thing; no letter is given a meaning such scripts know for another one.
const QList<OptionSpec> kOptions = {
    {"help", 'h', false, nullptr},
    {"version", 'V', false, nullptr},
    {"quiet", 'q', false, nullptr},
    {"lang", '\0', true, nullptr},
    {"protocol", '\0', true, kLine},
    {"instrument", 'a', true, "conditions read write compare find watch history"},
    {"rate", 'b', true, kLine},
    {"data-bits", 'd', true, kLine},
    {"stop-bits", 's', true, kLine},
    {"parity", 'P', true, kLine},
    {"port", '\0', true, kLine},
    {"timeout", '\0', true, kLine},
    {"block-read", '\0', false, "conditions read write compare watch"},
    {"block-max", '\0', true, "conditions read write compare watch"},
    {"table", '\0', true, "read write compare find export-csv report watch profile"},
    {"out", '\0', true, "read"},
    {"hex", '\0', false, "read compare export-csv report watch"},
    {"json", '\0', false, "read compare find ports history watch profile"},
    {"only-changed", '\0', false, "write"},
    {"verify", '\0', false, "write"},
    {"read-before-write", '\0', false, "write"},
    {"since", '\0', true, "history"},
    {"transfer", '\0', true, "history"},
    {"csv", '\0', true, "history"},
    {"trace", '\0', false, "read write"},
    {"trace-file", '\0', true, "read write"},
    {"progress", '\0', false, "read write compare find"},
    {"instruments", '\0', true, "find"},
    {"answer-wait", '\0', true, "find"},
    {"encoding", '\0', true, "export-csv"},
    {"pdf", '\0', true, "report history"},
    {"profile", '\0', true, "write compare report watch"},
    {"no-profile", '\0', false, "write compare report watch"},
    {"include-live", '\0', false, "compare"},
    {"interval", '\0', true, "watch"},
    {"count", '\0', true, "watch"},
};

const QStringList kCommands = {
    QStringLiteral("conditions"), QStringLiteral("read"),   QStringLiteral("write"),
    QStringLiteral("compare"),    QStringLiteral("ports"),  QStringLiteral("find"),
    QStringLiteral("export-csv"), QStringLiteral("report"), QStringLiteral("history"),
    QStringLiteral("watch"),      QStringLiteral("profile")};

const char* const kCommandHelp[][2] = {
    {"history",
     "pmx31570a-cli history [--since DATE] [--instrument N] [--transfer ID] [--json]\n"
     "                      [--pdf FILE|-] [--csv FILE|-] [--lang en|ja]\n"
     "Prints the change log: one line per item written to an instrument (by the window or\n"
     "by write), oldest first: time, operator, port, instrument, item, name, value before,\n"
     "value written, outcome. --since DATE (YYYY-MM-DD or YYYY-MM-DDTHH:MM, local time)\n"
     "and --instrument N keep the records from then on and of that instrument; --transfer\n"
     "those of one transfer. --json prints each record as it is stored in the log.\n"
     "--pdf and --csv write the commissioning record of the records chosen instead (one\n"
     "transfer, or a period): instrument, port, operator, time, table file, and per item\n"
     "the value before and after and the outcome.\n"
     "Exit 0, or 2 for bad arguments or a file that could not be written.\n"},
    {"conditions",
     "pmx31570a-cli [OPTIONS] conditions\n"
     "Applies the communication conditions, opens the port and prints the eight status\n"
     "values as \"caption: value\". Exit 0, or 3 when the port cannot be opened.\n"},
    {"read", "pmx31570a-cli [OPTIONS] read [--table IN.dat] [--out OUT.dat] [--hex] [--json]\n"
             "Reads every item selected in IN.dat from the instrument and prints one line per\n"
             "item as it is read: address, name, value (DEC, or HEX with --hex). Failed items\n"
             "go to standard error, and the run ends with \"read: N items, G good, F failed\"\n"
             "there (not with --quiet), naming the items a stop or a lost device left unread.\n"
             "--json prints one JSON object per item instead:\n"
             "  {\"address\":\"0005\",\"name\":\"Item 5\",\"value\":-95}\n"
             "  {\"address\":\"0006\",\"name\":\"Item 6\",\"error\":\"No response. "
             "...\",\"error_code\":102}\n"
             "--out writes the updated table file after a read that reached every item; after\n"
             "Ctrl+C, SIGTERM or a lost device it is not written (the file stays as it was)\n"
             "and standard error says so. Its folder is checked before the instrument is asked.\n"
             "Exit 0 all items good, 1 some failed, 2 --out could not be written or instrument\n"
             "0 under Modbus (broadcast: nothing to read), 3 the port did not open or was lost.\n"},
    {"write", "pmx31570a-cli [OPTIONS] write --table IN.dat [--only-changed] [--verify]\n"
              "                                   [--read-before-write]\n"
              "Writes IN.dat's selected items to the instrument in the program's order (0044h,\n"
              "0023h, 0024h, 0049h, 004Ah first, then ascending from 0001h; never 0000h).\n"
              "--only-changed reads the selected items first and writes only those whose value\n"
              "differs (items that cannot be read are not written). --verify reads every\n"
              "written item back and reports \"0023h: wrote 1500, instrument holds 1000\" on\n"
              "standard error for each value the instrument did not keep.\n"
              "Ends with \"write: N items, G good, F failed\" on standard error; with --verify\n"
              "an item the instrument did not keep is counted as \"not kept\", not as good.\n"
              "Exit 0 all written (and kept), 0 too for a write to instrument 0 under Modbus\n"
              "(a broadcast: sent to every instrument, confirmed by none), 1 some items failed,\n"
              "3 the port did not open or was lost, 4 a read-back differs, 5 the change log\n"
              "could not be written (nothing is written to the instrument without its record).\n"
              "With an instrument profile (--profile FILE, or the one found for the model)\n"
              "live and read-only items are not written; the summary says how many.\n"
              "Every item written is recorded in the change log (see history);\n"
              "--read-before-write reads each item just before writing it, so that its record\n"
              "holds the instrument's own old value (ReadBeforeWrite=1 in [Options] does the\n"
              "same for every run and for the window).\n"},
    {"compare", "pmx31570a-cli [OPTIONS] compare [--table IN.dat] [--hex] [--json]\n"
                "Reads every item selected in IN.dat from the instrument (the file is not\n"
                "changed) and prints one line per item that differs: address, name, value in\n"
                "the file, value in the instrument; or, for an item that could not be read,\n"
                "address, name, value in the file and the reason. A last line on standard\n"
                "error gives the counts. --json prints one JSON object per such item instead:\n"
                "  {\"address\":\"0001\",\"name\":\"Item 1\",\"file\":-99,\"instrument\":99}\n"
                "  {\"address\":\"0005\",\"name\":\"Item "
                "5\",\"file\":-95,\"error\":\"...\",\"error_code\":100}\n"
                "With an instrument profile (--profile FILE, or the one found for the model)\n"
                "live and read-only items are left out and counted, unless --include-live.\n"
                "Exit 0 everything matches, 4 values differ, 1 items could not be read (1 wins\n"
                "over 4), 2 and 3 as for read.\n"},
    {"ports", "pmx31570a-cli ports [--json]\n"
              "Lists the serial devices found and what COM1..COM8 open. --json prints one\n"
              "JSON object per device found, then one per port:\n"
              "  {\"device\":\"/dev/serial/by-id/usb-...\",\"location\":\"/dev/ttyUSB0\","
              "\"description\":\"...\"}\n"
              "  {\"port\":\"COM1\",\"device\":\"/dev/serial/by-id/usb-...\",\"mapped\":false}\n"
              "(\"device\" is null for a port that opens no device). Exit 0.\n"},
    {"find",
     "pmx31570a-cli [OPTIONS] find [--port P]... [--protocol P]... [--instruments LIST]\n"
     "                              [--answer-wait MS] [--table IN.dat] [--json]\n"
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
     "or with --json the same as one JSON object:\n"
     "  {\"port\":\"/dev/ttyUSB0\",\"protocol\":\"Modbus ASCII\",\"instrument\":17,\"rate\":4800,\n"
     "   \"data_bits\":7,\"parity\":\"EVEN\",\"stop_bits\":2}\n"
     "Nothing is stored. Exit 0 found, 4 nothing answered, 3 no port could be opened.\n"},
    {"export-csv",
     "pmx31570a-cli export-csv [--table IN.dat] [--hex] [--lang en|ja]\n"
     "                          [--encoding utf-8|utf-8-bom|shift_jis] OUT.csv|-\n"
     "Appends the all-data list of IN.dat to OUT.csv, as the Export menu does, in\n"
     "UTF-8 unless --encoding chooses UTF-8 with a byte-order mark or Shift_JIS (for\n"
     "spreadsheet programs on Japanese systems). A file that already holds text in\n"
     "another encoding keeps its own, and standard error says so. A block that does\n"
     "not go in whole (a full disk) is taken back: the file keeps its old length.\n"
     "- writes the block to standard output (with the byte-order mark for utf-8-bom).\n"
     "Exit 0, or 2 when IN.dat could not be read or OUT.csv not written.\n"},
    {"report", "pmx31570a-cli report [--table IN.dat] [--hex] [--lang en|ja] --pdf OUT.pdf|-\n"
               "Renders the all-data list report of IN.dat to a PDF file; --pdf - writes it to\n"
               "standard output, which must then be a file or a pipe, not a terminal.\n"
               "Exit 0, or 2 when IN.dat could not be read or the PDF not written.\n"},
    {"watch", "pmx31570a-cli [OPTIONS] watch [--table IN.dat] [--interval MS] [--count N]\n"
              "                               [--hex] [--json]\n"
              "Reads the items selected in IN.dat that the instrument profile calls live (the\n"
              "measured value and the like) every MS milliseconds (default 1000, 100..3600000)\n"
              "and prints one line per round: the time, then address, value and unit of each:\n"
              "  12:00:01.250\t0001h 1234\t0002h 1230\n"
              "or with --json one object per round, null for an item that could not be read:\n"
              "  {\"round\":1,\"time\":\"2026-01-01T12:00:01.250\",\"0001\":1234,\"0002\":null}\n"
              "--count N ends after N rounds; otherwise Ctrl+C ends it (exit 130).\n"
              "Exit 0, 1 some reads failed, 2 no profile or no live item selected, 3 as for\n"
              "read.\n"},
    {"profile", "pmx31570a-cli profile check [FILE] [--table IN.dat] [--json]\n"
                "Reads the instrument profile FILE (without FILE: the one the model of IN.dat\n"
                "gets) and says what it would do: a line with the counts, then per item it\n"
                "describes the address, name (from IN.dat), kind, range and unit, and note.\n"
                "A profile with an error is refused whole: the line and the reason are\n"
                "printed on standard error, as a run of write, compare, report or watch that\n"
                "finds it would print them before it stops.\n"
                "Exit 0, or 2 when the profile or IN.dat cannot be read or is refused.\n"},
};

const OptionSpec* longOption(const QString& name) {
    for (const OptionSpec& o : kOptions)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

const OptionSpec* shortOption(QChar letter) {
    for (const OptionSpec& o : kOptions)
        if (o.letter != '\0' && letter == QLatin1Char(o.letter))
            return &o;
    return nullptr;
}

bool refuse(QString* error, TextId id, const QString& what) {
    *error = strings::text(id).arg(what);
    return false;
}

} // namespace

const QList<OptionSpec>& optionSpecs() {
    return kOptions;
}

const QStringList& commandNames() {
    return kCommands;
}

bool parseArgs(const QStringList& argv, Args* args, QString* error) {
    bool wordsOnly = false; // after "--"
    const auto take = [args](const OptionSpec& o, const QString& value) {
        QStringList& values = args->given[QLatin1String(o.name)];
        if (o.valued)
            values << value;
    };
    for (qsizetype k = 1; k < argv.size(); ++k) {
        const QString& word = argv[k];
        if (wordsOnly || word == QLatin1String("-") || !word.startsWith(QLatin1Char('-'))) {
            args->positional << word;
        } else if (word == QLatin1String("--")) {
            wordsOnly = true;
        } else if (word.startsWith(QLatin1String("--"))) {
            const qsizetype eq = word.indexOf(QLatin1Char('='));
            const QString spelled = eq < 0 ? word : word.left(eq);
            const OptionSpec* o = longOption(spelled.mid(2));
            if (!o)
                return refuse(error, TextId::CliUnknownOption, spelled);
            if (!o->valued && eq >= 0)
                return refuse(error, TextId::CliUnexpectedValue, spelled);
            if (o->valued && eq < 0 && k + 1 >= argv.size())
                return refuse(error, TextId::CliMissingValue, spelled);
            take(*o, !o->valued ? QString() : eq >= 0 ? word.mid(eq + 1) : argv[++k]);
        } else {
            // Short options; a valued one takes the rest of the word, or else the next one.
            for (qsizetype j = 1; j < word.size(); ++j) {
                const QString spelled = QLatin1Char('-') + word[j];
                const OptionSpec* o = shortOption(word[j]);
                if (!o)
                    return refuse(error, TextId::CliUnknownOption, spelled);
                if (!o->valued) {
                    take(*o, {});
                    continue;
                }
                if (j + 1 < word.size()) {
                    take(*o, word.mid(j + 1));
                } else {
                    if (k + 1 >= argv.size())
                        return refuse(error, TextId::CliMissingValue, spelled);
                    take(*o, argv[++k]);
                }
                break;
            }
        }
    }
    if (!args->positional.isEmpty())
        args->command = args->positional.takeFirst();
    return true;
}

bool optionsFitCommand(const Args& args, QString* error) {
    for (auto it = args.given.constBegin(); it != args.given.constEnd(); ++it) {
        const OptionSpec* o = longOption(it.key());
        if (!o || !o->commands)
            continue;
        if (!QString::fromLatin1(o->commands).split(QLatin1Char(' ')).contains(args.command)) {
            *error = strings::text(TextId::CliNotForCommand)
                         .arg(QLatin1String("--") + it.key(), args.command);
            return false;
        }
    }
    return true;
}

QString langArgument(const QStringList& argv) {
    QString lang;
    for (qsizetype k = 1; k < argv.size(); ++k) {
        if (argv[k] == QLatin1String("--"))
            break;
        if (argv[k] == QLatin1String("--lang") && k + 1 < argv.size())
            lang = argv[++k];
        else if (argv[k].startsWith(QLatin1String("--lang=")))
            lang = argv[k].mid(7);
    }
    return lang;
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
        case kExitChangeLog:
            return 5;
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
               "  pmx31570a-cli [OPTIONS] read  [--table IN.dat] [--out OUT.dat] [--hex] "
               "[--json]\n"
               "  pmx31570a-cli [OPTIONS] write --table IN.dat [--only-changed] [--verify]\n"
               "                                [--read-before-write]\n"
               "  pmx31570a-cli [OPTIONS] compare [--table IN.dat] [--hex] [--json]\n"
               "  pmx31570a-cli ports [--json]\n"
               "  pmx31570a-cli [OPTIONS] find [--port P]... [--protocol P]... [--instruments "
               "LIST] [--json]\n"
               "  pmx31570a-cli export-csv [--table IN.dat] [--hex] [--lang en|ja]\n"
               "                           [--encoding utf-8|utf-8-bom|shift_jis] OUT.csv|-\n"
               "  pmx31570a-cli report     [--table IN.dat] [--hex] [--lang en|ja] --pdf "
               "OUT.pdf|-\n"
               "  pmx31570a-cli history    [--since DATE] [--instrument N] [--json] [--pdf "
               "FILE|-]\n"
               "                           [--csv FILE|-]\n"
               "  pmx31570a-cli [OPTIONS] watch [--table IN.dat] [--interval MS] [--count N] "
               "[--json]\n"
               "  pmx31570a-cli profile check [FILE] [--table IN.dat] [--json]\n"
               "  pmx31570a-cli --version | --help | COMMAND --help\n"
               "\n"
               "OPTIONS override the stored communication conditions for this run only; they are\n"
               "never stored:\n"
               "  --protocol korvan|ascii|rtu   or as stored: %1 (any case)\n"
               "  -a, --instrument N (%2..%3)\n"
               "  -b, --rate %4   -d, --data-bits %5   -s, --stop-bits %6\n"
               "  -P, --parity %7 (any case)   --timeout MS (%8..%9)\n"
               "  --port COMn|/dev/DEVICE|tcp://HOST:PORT   (a device server's address)\n"
               "  --block-read   Modbus: read runs of consecutive items with one request each\n"
               "  --block-max N  registers per request for --block-read (2..125, default 125)\n"
               "  --lang en|ja   the language of the messages, the summary, the CSV and the\n"
               "                 report (default: from the locale)\n"
               "read and write also take:\n"
               "  --trace   every exchange on standard error, one line each\n"
               "  --trace-file FILE   the same lines into FILE, which takes its place when the\n"
               "                      run ends\n"
               "read, write, compare and find also take:\n"
               "  --progress   the progress line even when standard error is not a terminal\n"
               "read, compare, find and ports also take:\n"
               "  --json   one JSON object per line (item, difference, instrument or device\n"
               "           found) on standard output in place of the columns; see COMMAND --help\n"
               "write, compare, report and watch also take:\n"
               "  --profile FILE   the instrument profile (units, ranges, live and read-only\n"
               "                   items); default: the one found for the table's model\n"
               "  --no-profile     no profile: every item is a plain setting\n"
               "  With a profile write leaves live and read-only items out, compare too\n"
               "  unless --include-live is given, and the report shows units.\n"
               "Every command takes:\n"
               "  -q, --quiet   nothing on standard error but errors (no progress, no summary)\n"
               "  -h, --help    this text, or with a command before it that command's\n"
               "  -V, --version the program's name and version\n"
               "An option's value follows it as the next word or after '=' (--rate=9600); a\n"
               "short option's may also follow it without a blank. -- ends the options.\n"
               "Without them the stored conditions apply, with the same validation as the program\n"
               "(invalid stored values fall back to their defaults; nothing is written back).\n"
               "\n"
               "IN.dat defaults to the program's state file PMX31570A.ini. For OUT.csv and\n"
               "OUT.pdf, - means standard output.\n"
               "--instrument may name several instruments on one line (1,3,5-9): the command\n"
               "runs for each in turn, a line \"instrument N: exit S\" goes to standard error\n"
               "after each, and the worst status is the program's. --out must then hold %n,\n"
               "replaced by the instrument number; --trace-file FILE gets every instrument's\n"
               "exchanges in turn, or one file each when FILE holds %n.\n"
               "Every file is written whole or not at all: should the disk be full or a size\n"
               "limit be reached, the old file stays as it was and the error names the reason.\n"
               "The folder of --out and --trace-file is checked before the instrument is asked.\n"
               "Ctrl+C (SIGINT) or SIGTERM ends a run before its next exchange: what was read is\n"
               "printed with the summary, --out is not written; a second one ends it at once.\n"
               "A closed standard output (read | head -1) ends the run quietly the same way.\n"
               "Messages and the summary follow the locale's language (LANG, or --lang); each\n"
               "error is one line on standard error that begins with \"pmx31570a-cli:\".\n"
               "\n"
               "Exit status:\n"
               "  0    done: every item good; compare: nothing differs; find: found one\n"
               "  0    write to instrument 0 under Modbus (a broadcast): every item sent; no\n"
               "       instrument answers a broadcast, so none is confirmed\n"
               "  1    some items failed (refused, no answer, checksum error, not read)\n"
               "  2    bad arguments; a file that could not be read or written; standard output\n"
               "       that could not be written; read or compare at instrument 0 under Modbus\n"
               "  3    the port could not be opened or was lost; find: no port could be opened\n"
               "  4    compare: values differ; write --verify: a value was not kept; find:\n"
               "       nothing answered (1 wins over 4)\n"
               "  5    write: the change log could not be written (read-only folder, full disk):\n"
               "       nothing was written, or the write stopped at the record that failed\n"
               "  130  Ctrl+C (SIGINT) ended the run\n"
               "  143  SIGTERM ended the run\n"
               "  141  standard output was closed (SIGPIPE)\n"
               "With several instruments, the worst of their statuses: 5, 3, 2, 1, 4, then 0.\n")
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
