// The commands run the same conditions, sequences, files, CSV writer and report renderer
// as the windows.
#include "Commands.h"

#include "Overrides.h"
#include "StatusLine.h"
#include "comm/Classification.h"
#include "comm/Conditions.h"
#include "comm/ExchangeRecord.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "model/AppPaths.h"
#include "model/TableFile.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "text/StringTable.h"
#include "text/ValueText.h"
#include "transfer/Compare.h"
#include "transfer/Sequences.h"

#include <QFile>
#include <QGuiApplication>
#include <QTextStream>
#include <csignal>
#include <memory>

namespace pmx::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onSignal(int) {
    g_interrupted = 1;
}

class CliView : public TransferView {
  public:
    CliView(const ItemTable& table, StatusLine& status, bool write)
        : m_table(table), m_status(status), m_write(write) {}
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override { m_status.wipe(); }
    void progressItem(int n, int m, int item) override {
        m_status.show(QStringLiteral("%1 %2/%3  %4")
                          .arg(m_write ? QLatin1String("write") : QLatin1String("read "))
                          .arg(n)
                          .arg(m)
                          .arg(itemAddressText(item) + QLatin1Char('h')));
    }
    void showError(int messageId, int item) override {
        m_status.say(itemAddressText(item) + QLatin1Char(' ') + strings::text(TextId(messageId)));
    }
    void processEvents() override {}
    // Headless there is no dialog: its copy of the selection is the file's selection.
    bool selectionBoxTicked(int item) override { return m_table.isSelected(item); }
    bool stopRequested() override { return stopSignalled(); }
    void connectionLost(const QString& device) override {
        m_status.say(strings::text(TextId::ConnectionLost).arg(device));
    }
    void notice(const QString& text) override { m_status.say(text); }
    void readBackDiffers(int item, qint16 wrote, qint16 holds) override {
        m_status.say(mismatchText({item, wrote, holds}));
    }

  private:
    const ItemTable& m_table;
    StatusLine& m_status;
    bool m_write;
};

// The trace: one line per exchange, as it ends.
class TraceWriter : public ExchangeObserver {
  public:
    TraceWriter(QTextStream& stream, StatusLine* status) : m_stream(stream), m_status(status) {}
    void exchanged(const ExchangeRecord& record) override {
        if (m_status) {
            m_status->say(traceLine(record));
            return;
        }
        m_stream << traceLine(record) << '\n';
        m_stream.flush();
    }
    // Standard error already has the mismatch line; the file gets it after the read-back.
    void readBackDiffers(int item, qint16 wrote, qint16 holds) override {
        if (!m_status)
            m_stream << itemAddressText(item) << "h: verify mismatch (wrote " << wrote << ", holds "
                     << holds << ")\n";
    }

  private:
    QTextStream& m_stream;
    StatusLine* m_status; // set when the lines go to standard error
};

bool loadTable(const Args& args, ItemTable& table, bool required) {
    QString path = args.value("table");
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
    return formatValue(v, hex);
}

// What the line showed of itself during the run: answers after their time-out (how late,
// and a time-out that would wait for them) and an echoing adapter.
void tellLineNotes(CommObject& com, StatusLine& status, bool quiet) {
    const QString late = com.takeLateAnswerNotice();
    if (quiet)
        return;
    if (!late.isEmpty())
        status.say(late);
    if (com.lineEchoes())
        status.say(echoingLineText());
}

int openPort(CommObject& com, OverlayStore& store) {
    com.activate(true);
    const ApplyResult applied = applyConditions(com, store);
    if (!applied.opened()) {
        err() << strings::text(TextId::CommunicationError) << '\n';
        if (!applied.why.isEmpty())
            err() << applied.why << '\n';
        return kExitPort;
    }
    return kExitOk;
}

} // namespace

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}
QTextStream& err() {
    static QTextStream s(stderr);
    return s;
}

void installStopSignals() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

bool stopSignalled() {
    return g_interrupted != 0;
}

std::unique_ptr<SerialComm> makeComm(OverlayStore& store) {
    return std::make_unique<SerialComm>(
        nullptr, [&store](const QString& name) { return PortMap(store).resolve(name); });
}

int cmdConditions(OverlayStore& store) {
    auto com = makeComm(store);
    if (int rc = openPort(*com, store))
        return rc;
    // The texts in effect after the apply step (invalid ones replaced by defaults), with
    // the instrument number as applied.
    QStringList values = cond::readStored(store).list();
    values[1] = QString::number(com->conditions().instrument);
    for (std::size_t k = 0; k < cond::kCaptions.size(); ++k) {
        QString value = values[qsizetype(k)];
        if (cond::kCaptions[k] == TextId::Port && !com->lastDevice().isEmpty() &&
            com->lastDevice() != value)
            value += QStringLiteral(" (") + com->lastDevice() + QLatin1Char(')');
        out() << strings::text(cond::kCaptions[k]) << ": " << value << '\n';
    }
    out() << strings::text(TextId::BlockReads) << ": " << cond::blockSettingText(com->conditions())
          << '\n';
    com->closePort();
    return kExitOk;
}

int cmdTransfer(const Args& args, OverlayStore& store, bool write) {
    if (!write && (args.onlyChanged || args.verify)) {
        err() << "error: --only-changed and --verify belong to write (see --help)\n";
        return kExitUsage;
    }
    ItemTable table;
    table.englishNames = strings::language() == strings::Lang::English;
    if (!loadTable(args, table, write))
        return kExitUsage;
    QFile traceFile(args.value("trace-file"));
    QTextStream traceFileStream;
    if (args.has("trace-file")) {
        const auto mode = args.traceAppend ? QIODevice::Append : QIODevice::Truncate;
        if (!traceFile.open(QIODevice::WriteOnly | mode | QIODevice::Text)) {
            err() << "error: cannot write " << traceFile.fileName() << ": "
                  << traceFile.errorString() << '\n';
            return kExitUsage;
        }
        traceFileStream.setDevice(&traceFile);
    }
    auto com = makeComm(store);
    if (int rc = openPort(*com, store))
        return rc;
    StatusLine status(!args.quiet && (args.progress || stderrIsTerminal()));
    TraceWriter toStderr(err(), &status);
    TraceWriter toFile(traceFileStream, nullptr);
    if (args.trace)
        com->addExchangeObserver(&toStderr);
    if (traceFile.isOpen())
        com->addExchangeObserver(&toFile);
    CliView view(table, status, write);
    TransferContext ctx{table, *com, view, args.verify};
    TransferResult result;
    bool unread = false;
    if (write && args.onlyChanged) {
        const Comparison cmp = compareWithInstrument(ctx);
        unread = cmp.count(ItemComparison::Outcome::Unreadable) > 0;
        if (cmp.read.lost || cmp.read.readsImpossible || cmp.read.stopped)
            result = cmp.read;
        else
            result = writeListedItems(ctx, cmp.differing());
        status.say(cmp.countsText());
    } else {
        result = write ? writeAllItems(ctx) : readAllItems(ctx);
    }
    com->closePort();
    com->removeExchangeObserver(&toStderr);
    com->removeExchangeObserver(&toFile);
    status.wipe();
    if (!args.quiet && !result.readsImpossible)
        status.say(summaryLine(result, write));
    tellLineNotes(*com, status, args.quiet);
    if (result.lost)
        return kExitPort; // a partial table is neither printed nor saved
    if (result.readsImpossible)
        return kExitUsage;
    if (!write) {
        // Only what was read is printed as a value: a failed item carries its reason in the
        // value's place, and an item a stop left unread is not printed, so that the table's
        // old value can never pass for the instrument's.
        for (int i = 0; i < kItemCount; ++i) {
            const qsizetype failed = result.failed.indexOf(i);
            if (!table.isSelected(i) || (failed < 0 && !result.good.contains(i)))
                continue;
            out() << itemAddressText(i) << '\t' << table.names[i] << '\t'
                  << (failed < 0 ? display(table.values[i], args.hex)
                                 : strings::text(TextId(result.failedMessage.value(failed))))
                  << '\n';
        }
        const QString outPath = args.value("out");
        if (!outPath.isEmpty()) {
            QString error;
            if (!saveTableFile(outPath, table, &error)) {
                err() << "error: cannot write " << outPath << ": " << error << '\n';
                return kExitUsage;
            }
        }
    }
    if (result.stopped || unread || !result.failed.isEmpty())
        return kExitSomeFailed;
    return result.mismatches.isEmpty() ? kExitOk : kExitDiffer;
}

int cmdCompare(const Args& args, OverlayStore& store) {
    ItemTable table;
    table.englishNames = strings::language() == strings::Lang::English;
    if (!loadTable(args, table, false))
        return kExitUsage;
    auto com = makeComm(store);
    if (int rc = openPort(*com, store))
        return rc;
    StatusLine status(!args.quiet && (args.progress || stderrIsTerminal()));
    CliView view(table, status, false);
    TransferContext ctx{table, *com, view};
    const Comparison cmp = compareWithInstrument(ctx);
    com->closePort();
    status.wipe();
    tellLineNotes(*com, status, args.quiet);
    if (cmp.read.lost)
        return kExitPort;
    if (cmp.read.readsImpossible)
        return kExitUsage;
    for (const ItemComparison& c : cmp.items) {
        if (c.outcome == ItemComparison::Outcome::Equal)
            continue;
        out() << itemAddressText(c.item) << '\t' << table.names[c.item] << '\t'
              << display(c.tableValue, args.hex) << '\t'
              << (c.outcome == ItemComparison::Outcome::Different
                      ? display(c.instrumentValue, args.hex)
                      : strings::text(TextId(c.messageId)))
              << '\n';
    }
    out().flush();
    err() << cmp.countsText() << '\n';
    if (cmp.read.stopped || cmp.count(ItemComparison::Outcome::Unreadable) > 0)
        return kExitSomeFailed;
    return cmp.count(ItemComparison::Outcome::Different) > 0 ? kExitDiffer : kExitOk;
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
        const QString mapped = map.mapping(name);
        out() << name << ": " << (device.isEmpty() ? QStringLiteral("(no device)") : device)
              << (mapped.isEmpty() ? QStringLiteral("  [automatic]") : QStringLiteral("  [mapped]"))
              << '\n';
    }
    return kExitOk;
}

int cmdExportCsv(const Args& args) {
    if (args.positional.size() != 1) {
        err() << "error: export-csv needs exactly one OUT.csv\n" << commandHelp("export-csv");
        return kExitUsage;
    }
    ItemTable table;
    if (!loadTable(args, table, false))
        return kExitUsage;
    ListArrays lists;
    fillListArrays(table, args.hex, lists);
    QString error;
    if (!appendCsv(args.positional.first(), lists, strings::language(), &error)) {
        err() << "error: cannot write " << args.positional.first() << ": " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

int cmdReport(int argc, char** argv, const Args& args) {
    const QString pdf = args.value("pdf");
    if (pdf.isEmpty() || !args.positional.isEmpty()) {
        err() << "error: report needs --pdf OUT.pdf\n" << commandHelp("report");
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
    fillListArrays(table, args.hex, lists);
    const ReportModel model = ReportModel::build(lists, strings::language());
    QString error;
    if (!ReportRenderer::renderPdf(model, pdf, &error)) {
        err() << "error: cannot write " << pdf << ": " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

} // namespace pmx::cli
