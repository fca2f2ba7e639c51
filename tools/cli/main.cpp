// Headless front end: the same conditions, sequences, files, CSV writer and report
// renderer as the windows, for scripted configuration of many instruments.
#include "comm/Classification.h"
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "comm/SettingsStore.h"
#include "model/AppPaths.h"
#include "model/TableFile.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "transfer/Sequences.h"
#include "ui/strings/StringTable.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMap>
#include <QStringList>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

using namespace pmx;

enum Exit { kExitOk = 0, kExitSomeFailed = 1, kExitUsage = 2, kExitPort = 3 };

volatile std::sig_atomic_t g_interrupted = 0;
void onSignal(int) { g_interrupted = 1; }

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}
QTextStream& err() {
    static QTextStream s(stderr);
    return s;
}

const char* kUsage =
    "Usage:\n"
    "  pmx31570a-cli [OPTIONS] conditions\n"
    "  pmx31570a-cli [OPTIONS] read  [--table IN.dat] [--out OUT.dat] [--hex]\n"
    "  pmx31570a-cli [OPTIONS] write --table IN.dat\n"
    "  pmx31570a-cli ports\n"
    "  pmx31570a-cli export-csv [--table IN.dat] [--hex] [--lang en|ja] OUT.csv\n"
    "  pmx31570a-cli report     [--table IN.dat] [--hex] [--lang en|ja] --pdf OUT.pdf\n"
    "\n"
    "OPTIONS override the stored communication conditions for this run only; they are\n"
    "never stored:\n"
    "  --protocol KORVAN|\"Modbus ASCII\"|\"Modbus RTU\"   --instrument N (0..95)\n"
    "  --rate 2400|4800|9600|19200   --data-bits 7|8   --stop-bits 1|2\n"
    "  --parity NONE|EVEN|ODD   --port COMn|/dev/DEVICE   --timeout MS (100..4000)\n"
    "  --lang en|ja   (default: from the locale)\n"
    "Without them the stored conditions apply, with the same validation as the program\n"
    "(invalid stored values fall back to their defaults; nothing is written back).\n"
    "\n"
    "IN.dat defaults to the program's state file PMX31570A.ini.\n"
    "Exit status: 0 all items good, 1 some items failed, 2 bad arguments or an unreadable\n"
    "file, 3 the port could not be opened or was lost.\n";

const char* kHelpConditions =
    "pmx31570a-cli [OPTIONS] conditions\n"
    "Applies the communication conditions, opens the port and prints the eight status\n"
    "values as \"caption: value\". Exit 0, or 3 when the port cannot be opened.\n";
const char* kHelpRead =
    "pmx31570a-cli [OPTIONS] read [--table IN.dat] [--out OUT.dat] [--hex]\n"
    "Reads every item selected in IN.dat from the instrument and prints one line per\n"
    "selected item: address, name, value (DEC, or HEX with --hex). --out writes the\n"
    "updated table file. Failed items go to standard error.\n";
const char* kHelpWrite =
    "pmx31570a-cli [OPTIONS] write --table IN.dat\n"
    "Writes IN.dat's selected items to the instrument in the program's order (0044h,\n"
    "0023h, 0024h, 0049h, 004Ah first, then ascending from 0001h; never 0000h).\n";
const char* kHelpPorts = "pmx31570a-cli ports\nLists the serial devices found and what COM1..COM8 open.\n";
const char* kHelpCsv =
    "pmx31570a-cli export-csv [--table IN.dat] [--hex] [--lang en|ja] OUT.csv\n"
    "Appends the all-data list of IN.dat to OUT.csv, as the Export menu does.\n";
const char* kHelpReport =
    "pmx31570a-cli report [--table IN.dat] [--hex] [--lang en|ja] --pdf OUT.pdf\n"
    "Renders the all-data list report of IN.dat to a PDF file.\n";

// Settings with the command line's overrides on top; writes stay in memory so that a
// run never changes the stored conditions.
class OverlayStore : public SettingsStore {
public:
    explicit OverlayStore(SettingsStore& base) : m_base(base) {}
    QString value(const QString& section, const QString& key, const QString& fallback) const override {
        const QString k = section + QLatin1Char('/') + key;
        return m_values.contains(k) ? m_values.value(k) : m_base.value(section, key, fallback);
    }
    void setValue(const QString& section, const QString& key, const QString& text) override {
        m_values.insert(section + QLatin1Char('/') + key, text);
    }
    bool contains(const QString& section, const QString& key) const override {
        return m_values.contains(section + QLatin1Char('/') + key) || m_base.contains(section, key);
    }
    // Conditions keys live in one section.
    void set(const char* key, const QString& text) { setValue(cond::kSection, QString::fromLatin1(key), text); }
    QString get(const QString& key) const { return value(cond::kSection, key, QString()); }

private:
    SettingsStore& m_base;
    QMap<QString, QString> m_values;
};

class CliView : public TransferView {
public:
    explicit CliView(const ItemTable& table) : m_table(table) {}
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override {}
    void showError(int messageId, int item) override {
        err() << itemAddressText(item) << ' ' << strings::text(messageId) << '\n';
        err().flush();
    }
    void processEvents() override {}
    // Headless there is no dialog: its copy of the selection is the file's selection.
    bool selectionBoxTicked(int item) override { return m_table.isSelected(item); }
    bool stopRequested() override { return g_interrupted != 0; }
    void connectionLost(const QString& device) override {
        err() << strings::text(200).arg(device) << '\n';
        err().flush();
    }
    void notice(const QString& text) override {
        err() << text << '\n';
        err().flush();
    }

private:
    const ItemTable& m_table;
};

struct Args {
    QString command;
    QMap<QString, QString> options;
    QStringList flags;
    QStringList positional;
};

bool parse(const QStringList& argv, Args& args, QString* error) {
    static const QStringList valued = {"--protocol", "--instrument", "--rate",  "--data-bits",
                                       "--stop-bits", "--parity",    "--port",  "--timeout",
                                       "--lang",     "--table",      "--out",   "--pdf"};
    static const QStringList flags = {"--hex", "--help", "-h"};
    for (int k = 1; k < argv.size(); ++k) {
        const QString& a = argv[k];
        if (valued.contains(a)) {
            if (k + 1 >= argv.size()) {
                *error = QStringLiteral("option %1 needs a value").arg(a);
                return false;
            }
            args.options.insert(a, argv[++k]);
        } else if (flags.contains(a)) {
            args.flags << (a == QLatin1String("-h") ? QStringLiteral("--help") : a);
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else if (args.command.isEmpty()) {
            args.command = a;
        } else {
            args.positional << a;
        }
    }
    return true;
}

// Turns the overrides into the stored texts the program itself would have.
bool applyOverrides(const Args& args, OverlayStore& store, QString* error) {
    const auto opt = [&](const char* name) { return args.options.value(QString::fromLatin1(name)); };
    if (args.options.contains("--protocol")) {
        const QString p = opt("--protocol");
        const QStringList ok = {"KORVAN", "Modbus ASCII", "Modbus RTU"};
        const auto match = std::find_if(ok.begin(), ok.end(), [&](const QString& s) {
            return s.compare(p, Qt::CaseInsensitive) == 0;
        });
        if (match == ok.end()) {
            *error = QStringLiteral("--protocol must be KORVAN, \"Modbus ASCII\" or \"Modbus RTU\"");
            return false;
        }
        store.set("Protocol", *match);
    }
    if (args.options.contains("--instrument")) {
        bool ok = false;
        const int n = opt("--instrument").toInt(&ok);
        if (!ok || n < 0 || n > 95) {
            *error = QStringLiteral("--instrument must be 0..95");
            return false;
        }
        store.set("DevNo", QString::number(n));
    }
    if (args.options.contains("--rate")) {
        const QString r = opt("--rate");
        if (!QStringList{"2400", "4800", "9600", "19200"}.contains(r)) {
            *error = QStringLiteral("--rate must be 2400, 4800, 9600 or 19200");
            return false;
        }
        store.set("Speed", r);
    }
    if (args.options.contains("--data-bits")) {
        const QString b = opt("--data-bits");
        if (b != QLatin1String("7") && b != QLatin1String("8")) {
            *error = QStringLiteral("--data-bits must be 7 or 8");
            return false;
        }
        store.set("Databit", b + QStringLiteral(" bit"));
    }
    if (args.options.contains("--stop-bits")) {
        const QString b = opt("--stop-bits");
        if (b != QLatin1String("1") && b != QLatin1String("2")) {
            *error = QStringLiteral("--stop-bits must be 1 or 2");
            return false;
        }
        store.set("Stopbit", b + QStringLiteral(" bit"));
    }
    if (args.options.contains("--parity")) {
        const QString p = opt("--parity").toUpper();
        if (!QStringList{"NONE", "EVEN", "ODD"}.contains(p)) {
            *error = QStringLiteral("--parity must be NONE, EVEN or ODD");
            return false;
        }
        store.set("Party", p);
    }
    if (args.options.contains("--timeout")) {
        bool ok = false;
        const int t = opt("--timeout").toInt(&ok);
        if (!ok || t < 100 || t > 4000) {
            *error = QStringLiteral("--timeout must be 100..4000 ms");
            return false;
        }
        store.set("Timout", QString::number(t));
    }
    return true;
}

bool loadTable(const Args& args, ItemTable& table, bool required) {
    QString path = args.options.value("--table");
    if (path.isEmpty()) {
        if (required) {
            err() << "error: --table IN.dat is required\n";
            return false;
        }
        path = stateFilePath();
    }
    const TableReadResult result = loadTableFile(path, table, TableReadMode::AllOrNothing);
    if (!result.ok) {
        err() << "error: " << path << ": " << result.errorText(strings::language()) << '\n';
        return false;
    }
    return true;
}

QString display(qint16 v, bool hex) {
    return hex ? QString::number(quint16(v), 16).toUpper() + QLatin1Char('h') : QString::number(v);
}

// --port takes a COMn name (through the port map) or a device path, which is used as it
// is by mapping COM1 to it for this run only.
void applyPort(const Args& args, OverlayStore& store) {
    const QString port = args.options.value("--port");
    if (port.isEmpty())
        return;
    if (PortMap::comNumber(port.toUpper())) {
        store.set("Port", port.toUpper());
    } else {
        store.set("Port", QStringLiteral("COM1"));
        store.setValue(PortMap::kSection, QStringLiteral("COM1"), port);
    }
}

std::unique_ptr<SerialComm> makeComm(OverlayStore& store) {
    return std::make_unique<SerialComm>(nullptr, [&store](const QString& name) {
        return PortMap(store).resolve(name);
    });
}

int openPort(CommObject& com, OverlayStore& store, qint16& instNo) {
    QString why;
    com.Activate(true);
    if (SetSpeed(com, store, instNo, &why) != QLatin1String("ok")) {
        err() << strings::text(50) << '\n';
        if (!why.isEmpty())
            err() << why << '\n';
        return kExitPort;
    }
    return kExitOk;
}

int cmdConditions(OverlayStore& store) {
    auto com = makeComm(store);
    qint16 instNo = 0;
    if (int rc = openPort(*com, store, instNo))
        return rc;
    // The texts in effect after the apply step (invalid ones replaced by defaults).
    const cond::StoredConditions c = cond::readStored(store);
    const QString values[8] = {c.protocol, QString::number(instNo), c.speed, c.databit,
                               c.stopbit,  c.party,                 c.port,  c.timout};
    const int ids[8] = {26, 27, 28, 29, 30, 31, 33, 34};
    for (int k = 0; k < 8; ++k) {
        QString value = values[k];
        if (k == 6 && !com->lastDevice().isEmpty() && com->lastDevice() != value)
            value += QStringLiteral(" (") + com->lastDevice() + QLatin1Char(')');
        out() << strings::text(ids[k]) << ": " << value << '\n';
    }
    com->ClosePort();
    return kExitOk;
}

int cmdTransfer(const Args& args, OverlayStore& store, bool write) {
    ItemTable table;
    table.LangEng = strings::language() == strings::Lang::English;
    if (!loadTable(args, table, write))
        return kExitUsage;
    auto com = makeComm(store);
    qint16 instNo = 0;
    if (int rc = openPort(*com, store, instNo))
        return rc;
    CliView view(table);
    TransferContext ctx{table, *com, instNo, view};
    const TransferResult result = write ? WriteAllItems(ctx) : ReadAllItems(ctx);
    com->ClosePort();
    if (result.lost)
        return kExitPort; // a partial table is neither printed nor saved
    if (result.readsImpossible)
        return kExitUsage;
    if (!write) {
        const bool hex = args.flags.contains("--hex");
        for (int i = 0; i < kItemCount; ++i) {
            if (table.isSelected(i))
                out() << itemAddressText(i) << '\t' << table.ItemName[i] << '\t'
                      << display(table.ItemData[i], hex) << '\n';
        }
        const QString outPath = args.options.value("--out");
        if (!outPath.isEmpty()) {
            QString error;
            if (!saveTableFile(outPath, table, &error)) {
                err() << "error: cannot write " << outPath << ": " << error << '\n';
                return kExitUsage;
            }
        }
    }
    if (result.stopped)
        return kExitSomeFailed;
    return result.failed.isEmpty() ? kExitOk : kExitSomeFailed;
}

int cmdPorts() {
    QSettingsStore stored;
    PortMap map(stored);
    const QList<SerialPortEntry> ports = map.discovered();
    out() << "Serial devices found:\n";
    if (ports.isEmpty())
        out() << "  (none)\n";
    for (const SerialPortEntry& p : ports) {
        out() << "  " << p.device;
        if (p.systemLocation != p.device && !p.systemLocation.isEmpty())
            out() << " -> " << p.systemLocation;
        if (!p.description.isEmpty())
            out() << "  (" << p.description << ')';
        out() << '\n';
    }
    for (int n = 1; n <= 8; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);
        const QString device = map.resolve(name);
        const QString stored = map.mapping(name);
        out() << name << ": " << (device.isEmpty() ? QStringLiteral("(no device)") : device)
              << (stored.isEmpty() ? QStringLiteral("  [automatic]") : QStringLiteral("  [mapped]")) << '\n';
    }
    return kExitOk;
}

int cmdExportCsv(const Args& args) {
    if (args.positional.size() != 1) {
        err() << "error: export-csv needs exactly one OUT.csv\n" << kHelpCsv;
        return kExitUsage;
    }
    ItemTable table;
    if (!loadTable(args, table, false))
        return kExitUsage;
    ListArrays lists;
    SetListData(table, args.flags.contains("--hex"), lists);
    QString error;
    if (!WriteCsv(args.positional.first(), lists, strings::language(), &error)) {
        err() << "error: cannot write " << args.positional.first() << ": " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

int cmdReport(int argc, char** argv, const Args& args) {
    const QString pdf = args.options.value("--pdf");
    if (pdf.isEmpty() || !args.positional.isEmpty()) {
        err() << "error: report needs --pdf OUT.pdf\n" << kHelpReport;
        return kExitUsage;
    }
    ItemTable table;
    if (!loadTable(args, table, false))
        return kExitUsage;
    // Rendering needs QtGui; no display is needed for a PDF.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication gui(argc, argv);
    ListArrays lists;
    SetListData(table, args.flags.contains("--hex"), lists);
    const ReportModel model = ReportModel::build(lists, strings::language());
    QString error;
    if (!ReportRenderer::renderPdf(model, pdf, &error)) {
        err() << "error: cannot write " << pdf << ": " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QStringList argvList;
    for (int k = 0; k < argc; ++k)
        argvList << QString::fromLocal8Bit(argv[k]);
    Args args;
    QString error;
    if (!parse(argvList, args, &error)) {
        err() << "error: " << error << "\n\n" << kUsage;
        return kExitUsage;
    }
    const bool help = args.flags.contains("--help");
    const QMap<QString, const char*> helps = {{"conditions", kHelpConditions}, {"read", kHelpRead},
                                              {"write", kHelpWrite},           {"ports", kHelpPorts},
                                              {"export-csv", kHelpCsv},        {"report", kHelpReport}};
    if (args.command.isEmpty() || (help && !helps.contains(args.command))) {
        (help ? out() : err()) << kUsage;
        return help ? kExitOk : kExitUsage;
    }
    if (!helps.contains(args.command)) {
        err() << "error: unknown command " << args.command << "\n\n" << kUsage;
        return kExitUsage;
    }
    if (help) {
        out() << helps.value(args.command);
        return kExitOk;
    }

    strings::Lang lang = strings::languageFromLocale();
    if (args.options.contains("--lang")) {
        const QString l = args.options.value("--lang");
        if (l != QLatin1String("en") && l != QLatin1String("ja")) {
            err() << "error: --lang must be en or ja\n";
            return kExitUsage;
        }
        lang = l == QLatin1String("ja") ? strings::Lang::Japanese : strings::Lang::English;
    }
    strings::setLanguage(lang);

    if (args.command == QLatin1String("report"))
        return cmdReport(argc, argv, args);
    QCoreApplication app(argc, argv);
    if (args.command == QLatin1String("ports"))
        return cmdPorts();
    if (args.command == QLatin1String("export-csv"))
        return cmdExportCsv(args);

    QSettingsStore stored;
    OverlayStore store(stored);
    if (!applyOverrides(args, store, &error)) {
        err() << "error: " << error << '\n';
        return kExitUsage;
    }
    applyPort(args, store);
    if (args.command == QLatin1String("conditions"))
        return cmdConditions(store);
    return cmdTransfer(args, store, args.command == QLatin1String("write"));
}
