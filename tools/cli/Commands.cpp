// The commands run the same conditions, sequences, files, CSV writer and report renderer
// as the windows.
#include "Commands.h"

#include "JsonLine.h"
#include "Overrides.h"
#include "ProfileCommands.h"
#include "StatusLine.h"
#include "comm/Classification.h"
#include "comm/Conditions.h"
#include "comm/ExchangeRecord.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "model/TableFile.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ListUnits.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "text/ProgramMessages.h"
#include "text/StringTable.h"
#include "text/SystemReason.h"
#include "text/ValueText.h"
#include "transfer/ChangeLog.h"
#include "transfer/Compare.h"
#include "transfer/ProfileTransfers.h"
#include "transfer/Sequences.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace pmx::cli {

namespace {

// The stop signal that came first (SIGINT or SIGTERM), 0 before.
volatile std::sig_atomic_t g_stopSignal = 0;
bool g_outputClosed = false;
int g_outputError = 0; // errno of a failed write to standard output other than a closed pipe

extern "C" void onStopSignal(int signal) {
    if (g_stopSignal != 0) {
        // The second stop ends the program at once, as the signal would have.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_stopSignal = signal;
}

class CliView : public TransferView {
  public:
    // `print`: a read prints each item as it is recorded (address, name, value or reason),
    // as text columns or as JSON.
    CliView(const ItemTable& table, StatusLine& status, bool write, bool print = false,
            bool hex = false, bool json = false)
        : m_table(table), m_status(status), m_write(write), m_print(print), m_hex(hex),
          m_json(json) {}
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override { m_status.wipe(); }
    void progressItem(int n, int m, int item) override {
        m_status.show(strings::text(m_write ? TextId::CliProgressWrite : TextId::CliProgressRead)
                          .arg(n)
                          .arg(m)
                          .arg(itemAddressText(item) + QLatin1Char('h')));
    }
    void showError(int messageId, int item) override {
        m_status.say(errorLine(itemAddressText(item) + QStringLiteral("h: ") +
                               strings::text(TextId(messageId))));
    }
    void processEvents() override {}
    // Headless there is no dialog: its copy of the selection is the file's selection.
    bool selectionBoxTicked(int item) override { return m_table.isSelected(item); }
    bool stopRequested() override { return runMustStop(); }
    void connectionLost(const QString& device) override {
        m_status.say(errorLine(strings::text(TextId::ConnectionLost).arg(device)));
    }
    void notice(const QString& text) override { m_status.say(errorLine(text)); }
    void readBackDiffers(int item, qint16 wrote, qint16 holds) override {
        m_status.say(errorLine(mismatchText({item, wrote, holds})));
    }
    // Only what was read is printed as a value, as it is read: a failed item carries its
    // reason in the value's place, and an item the run did not reach is not printed, so
    // that the table's old value can never pass for the instrument's. A reader that
    // stops early (`| head -1`) ends the run before its next exchange.
    void itemRecorded(int item, int messageId) override {
        if (!m_print || outputClosed())
            return;
        m_status.wipe();
        if (m_json) {
            JsonLine line;
            line.addText("address", itemAddressText(item)).addText("name", m_table.names[item]);
            if (messageId == 0)
                line.addNumber("value", m_table.values[item]);
            else
                line.addText("error", strings::text(TextId(messageId)))
                    .addNumber("error_code", messageId);
            printLine(line.text());
            return;
        }
        printLine(itemAddressText(item) + QLatin1Char('\t') + m_table.names[item] +
                  QLatin1Char('\t') +
                  (messageId == 0 ? formatValue(m_table.values[item], m_hex)
                                  : strings::text(TextId(messageId))));
    }

  private:
    const ItemTable& m_table;
    StatusLine& m_status;
    bool m_write;
    bool m_print;
    bool m_hex;
    bool m_json;
};

// The trace: one line per exchange, as it ends, on standard error or into a file that
// takes its place whole when the run ends (FileWriter).
class TraceWriter : public ExchangeObserver {
  public:
    explicit TraceWriter(StatusLine* status) : m_status(status) {}
    explicit TraceWriter(FileWriter* file) : m_file(file) {}
    void exchanged(const ExchangeRecord& record) override {
        if (m_status)
            m_status->say(traceLine(record));
        else
            m_file->write((traceLine(record) + QLatin1Char('\n')).toUtf8());
    }
    // Standard error already has the mismatch line; the file gets it after the read-back.
    void readBackDiffers(int item, qint16 wrote, qint16 holds) override {
        if (m_file)
            m_file->write(QStringLiteral("%1h: verify mismatch (wrote %2, holds %3)\n")
                              .arg(itemAddressText(item))
                              .arg(wrote)
                              .arg(holds)
                              .toUtf8());
    }

  private:
    StatusLine* m_status = nullptr; // the lines go to standard error
    FileWriter* m_file = nullptr;   // or into this file
};

} // namespace

bool loadTable(const Args& args, ItemTable& table, bool required) {
    QString path = args.value("table");
    if (path.isEmpty()) {
        if (required) {
            printError(strings::text(TextId::CliTableRequired));
            return false;
        }
        path = stateFilePath();
    }
    const TableReadResult result = loadTableFile(path, table, TableReadMode::AllOrNothing);
    if (result.ok)
        return true;
    if (result.failure.kind == FieldError::CannotOpen) {
        // The system's reason, not only that it failed.
        QFile file(path);
        const QString reason = QFileInfo(path).isDir() ? errnoReason(EISDIR, strings::language())
                               : !file.open(QIODevice::ReadOnly)
                                   ? systemReason(file.errorString())
                                   : result.errorText(strings::language());
        printError(strings::text(TextId::CliCannotRead).arg(path, reason));
    } else {
        printError(path + QStringLiteral(": ") + result.errorText(strings::language()));
    }
    return false;
}

namespace {

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

} // namespace

int openPort(CommObject& com, OverlayStore& store) {
    com.activate(true);
    const ApplyResult applied = applyConditions(com, store);
    if (!applied.opened()) {
        // One line: the condition window's message, then why.
        QString text = strings::text(TextId::CommunicationError);
        if (!applied.why.isEmpty())
            text += QLatin1Char(' ') + applied.why;
        printError(text);
        return kExitPort;
    }
    return kExitOk;
}

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}
QTextStream& err() {
    static QTextStream s(stderr);
    return s;
}

void installStopSignals() {
#ifdef Q_OS_UNIX
    // The handler only notes the stop; a sequence sees it before its next exchange.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A closed output shows as a failed write, so the run can end cleanly (port closed,
    // files whole) instead of vanishing in the middle of an exchange.
    std::signal(SIGPIPE, SIG_IGN);
#else
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#endif
}

bool stopSignalled() {
    return g_stopSignal != 0;
}

bool outputClosed() {
#ifdef Q_OS_UNIX
    // A pipe whose reader has gone reports an error condition to poll() at once.
    if (!g_outputClosed) {
        pollfd p{STDOUT_FILENO, 0, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & POLLERR))
            g_outputClosed = true;
    }
#endif
    return g_outputClosed;
}

bool runMustStop() {
    return stopSignalled() || outputClosed() || g_outputError != 0;
}

int endingSignal() {
    if (g_stopSignal != 0)
        return int(g_stopSignal);
#ifdef SIGPIPE
    if (g_outputClosed)
        return SIGPIPE;
#endif
    return 0;
}

void endBySignal(int signal) {
    out().flush();
    err().flush();
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal); // where raising it did not end the program
}

bool printLine(const QString& line) {
    if (g_outputClosed || g_outputError != 0)
        return false;
    errno = 0;
    out() << line << '\n';
    out().flush();
    if (out().status() != QTextStream::Ok) {
        const int error = errno;
        if (error == EPIPE || outputClosed())
            g_outputClosed = true;
        else
            g_outputError = error != 0 ? error : EIO;
    }
    return !g_outputClosed && g_outputError == 0;
}

bool writeOutput(const QByteArray& bytes) {
    if (g_outputClosed || g_outputError != 0)
        return false;
    out().flush();
    std::fflush(stdout);
#ifdef Q_OS_UNIX
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            if (error == EPIPE)
                g_outputClosed = true;
            else
                g_outputError = error;
            return false;
        }
        at += n;
        left -= n;
    }
#else
    _setmode(_fileno(stdout), 0x8000); // _O_BINARY: a PDF's bytes as they are
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0) {
        g_outputError = errno != 0 ? errno : EIO;
        return false;
    }
#endif
    return true;
}

QString outputErrorText() {
    return g_outputError != 0 ? errnoReason(g_outputError, strings::language()) : QString();
}

void printError(const QString& text) {
    err() << errorLine(text) << '\n';
    err().flush();
}

QString whyNotWritable(const QString& path) {
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    const strings::Lang lang = strings::language();
    if (file.isDir())
        return errnoReason(EISDIR, lang);
#ifdef Q_OS_UNIX
    // The folder must take a new file (the file is replaced through one beside it).
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return errnoReason(errno, lang);
    if (file.exists() && ::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return errnoReason(errno, lang);
#else
    const QFileInfo dir(folder);
    if (!dir.isDir())
        return errnoReason(dir.exists() ? ENOTDIR : ENOENT, lang);
    if (!dir.isWritable() || (file.exists() && !file.isWritable()))
        return errnoReason(EACCES, lang);
#endif
    return {};
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

namespace {

// Writes --out after a read that went through all its items. A read that was cut short
// (a stop, a closed output, a lost device) leaves the file as it was and says so: its
// table would hold old values beside new ones, with nothing in the file to tell which.
int writeOutFile(const QString& path, const ItemTable& table, const TransferResult& result) {
    if (path.isEmpty())
        return kExitOk;
    if (result.stopped || result.lost || runMustStop()) {
        printError(strings::text(result.lost ? TextId::CliNotWrittenLost
                                             : TextId::CliNotWrittenInterrupted)
                       .arg(path));
        return kExitOk;
    }
    QString error;
    if (!saveTableFile(path, table, &error)) {
        printError(strings::text(TextId::CliCannotWrite).arg(path, error));
        return kExitUsage;
    }
    return kExitOk;
}

StatusLine statusLineOf(const Args& args) {
    return StatusLine(!args.has("quiet") && (args.has("progress") || stderrIsTerminal()));
}

} // namespace

int cmdTransfer(const Args& args, OverlayStore& store, bool write) {
    ItemTable table;
    table.englishNames = strings::language() == strings::Lang::English;
    if (!loadTable(args, table, write))
        return kExitUsage;
    std::optional<InstrumentProfile> profile;
    if (write && !runProfile(args, table, &profile))
        return kExitUsage;
    const InstrumentProfile* profiled = profile ? &*profile : nullptr;
    const QString tracePath = args.value("trace-file");
    std::unique_ptr<FileWriter> traceFile;
    if (args.has("trace-file")) {
        traceFile = std::make_unique<FileWriter>(
            tracePath, args.traceAppend ? FileWriter::Mode::Append : FileWriter::Mode::Replace);
        if (!traceFile->open()) {
            printError(
                strings::text(TextId::CliCannotWrite).arg(tracePath, traceFile->errorText()));
            return kExitUsage;
        }
    }
    auto com = makeComm(store);
    if (int rc = openPort(*com, store))
        return rc;
    StatusLine status = statusLineOf(args);
    TraceWriter toStderr(&status);
    TraceWriter toFile(traceFile.get());
    if (args.has("trace"))
        com->addExchangeObserver(&toStderr);
    if (traceFile)
        com->addExchangeObserver(&toFile);
    CliView view(table, status, write, !write, args.has("hex"), args.has("json"));
    TransferContext ctx{table, *com, view, args.has("verify")};
    if (write) {
        ChangeLog::standard().setTableFile(QFileInfo(args.value("table")).absoluteFilePath());
        ctx.readBeforeWrite = args.has("read-before-write") || readBeforeWriteStored(store);
    }
    TransferResult result;
    bool unread = false;
    bool readPhase = !write; // what the summary speaks of
    // Live and read-only items a profile keeps out of the write.
    const int leftOut = write ? int(itemsLeftOutOfWrite(table, profiled).size()) : 0;
    if (write && args.has("only-changed")) {
        const Comparison cmp = compareSettingItems(ctx, profiled, false, nullptr);
        unread = cmp.count(ItemComparison::Outcome::Unreadable) > 0;
        if (cmp.read.lost || cmp.read.readsImpossible || cmp.read.stopped) {
            result = cmp.read;
            readPhase = true;
        } else {
            result = writeListedSettingItems(ctx, cmp.differing(), profiled, nullptr);
        }
        if (!outputClosed() && !args.has("quiet"))
            status.say(cmp.countsText());
    } else {
        result = write ? writeSettingItems(ctx, profiled, nullptr) : readAllItems(ctx);
    }
    com->closePort();
    com->removeExchangeObserver(&toStderr);
    com->removeExchangeObserver(&toFile);
    status.wipe();
    // Quiet once nobody reads the output.
    // A write the change log refused before it began has nothing to sum up: its one line
    // is the reason.
    const bool refusedByLog = !result.logError.isEmpty() && result.good.isEmpty() &&
                              result.failed.isEmpty() && result.unconfirmed.isEmpty() &&
                              !result.lost;
    if (!args.has("quiet") && !result.readsImpossible && !outputClosed() && !refusedByLog)
        status.say(summaryLine(result, !readPhase) +
                   (readPhase ? QString() : leftOutOfWriteText(leftOut)));
    tellLineNotes(*com, status, args.has("quiet"));
    int rc = kExitOk;
    // The trace of an interrupted run is kept: it tells what happened.
    if (traceFile && !traceFile->commit()) {
        printError(strings::text(TextId::CliCannotWrite).arg(tracePath, traceFile->errorText()));
        rc = kExitUsage;
    }
    if (result.readsImpossible)
        return kExitUsage; // nothing was read, nothing is written
    if (!result.logError.isEmpty()) {
        printError(result.logError);
        return kExitChangeLog;
    }
    if (!write)
        rc = worseExit(rc, writeOutFile(args.value("out"), table, result));
    if (result.lost)
        return kExitPort;
    if (rc == kExitUsage)
        return kExitUsage;
    if (result.stopped || unread || !result.failed.isEmpty())
        return kExitSomeFailed;
    return result.mismatches.isEmpty() ? kExitOk : kExitDiffer;
}

int cmdCompare(const Args& args, OverlayStore& store) {
    ItemTable table;
    table.englishNames = strings::language() == strings::Lang::English;
    if (!loadTable(args, table, false))
        return kExitUsage;
    std::optional<InstrumentProfile> profile;
    if (!runProfile(args, table, &profile))
        return kExitUsage;
    auto com = makeComm(store);
    if (int rc = openPort(*com, store))
        return rc;
    StatusLine status = statusLineOf(args);
    CliView view(table, status, false);
    TransferContext ctx{table, *com, view};
    int notCompared = 0;
    const Comparison cmp = compareSettingItems(ctx, profile ? &*profile : nullptr,
                                               args.has("include-live"), &notCompared);
    com->closePort();
    status.wipe();
    tellLineNotes(*com, status, args.has("quiet"));
    if (cmp.read.readsImpossible)
        return kExitUsage;
    // What was compared is printed also when a stop or a lost device cut the read short;
    // an item the read never reached is named in the summary, not printed as unreadable.
    const QList<int> unreached = cmp.read.unreached();
    const bool hex = args.has("hex");
    for (const ItemComparison& c : cmp.items) {
        if (c.outcome == ItemComparison::Outcome::Equal || unreached.contains(c.item))
            continue;
        const bool differs = c.outcome == ItemComparison::Outcome::Different;
        QString line;
        if (args.has("json")) {
            JsonLine json;
            json.addText("address", itemAddressText(c.item))
                .addText("name", table.names[c.item])
                .addNumber("file", c.tableValue);
            if (differs)
                json.addNumber("instrument", c.instrumentValue);
            else
                json.addText("error", strings::text(TextId(c.messageId)))
                    .addNumber("error_code", c.messageId);
            line = json.text();
        } else {
            line = itemAddressText(c.item) + QLatin1Char('\t') + table.names[c.item] +
                   QLatin1Char('\t') + display(c.tableValue, hex) + QLatin1Char('\t') +
                   (differs ? display(c.instrumentValue, hex) : strings::text(TextId(c.messageId)));
        }
        if (!printLine(line))
            break;
    }
    if (!outputClosed() && !args.has("quiet")) {
        QString counts = cmp.countsText();
        if (!unreached.isEmpty())
            counts += strings::text(TextId::CliNotRead)
                          .arg(unreached.size())
                          .arg(itemListText(unreached));
        err() << counts << leftOutOfCompareText(notCompared) << '\n';
    }
    if (cmp.read.lost)
        return kExitPort;
    if (cmp.read.stopped || cmp.count(ItemComparison::Outcome::Unreadable) > 0)
        return kExitSomeFailed;
    return cmp.count(ItemComparison::Outcome::Different) > 0 ? kExitDiffer : kExitOk;
}

int cmdPorts(const Args& args) {
    QSettingsStore stored;
    PortMap map(stored);
    const QList<SerialPortEntry> ports = map.discovered();
    const bool json = args.has("json");
    if (!json && !printLine(strings::text(TextId::CliDevicesFound)))
        return kExitOk;
    if (!json && ports.isEmpty())
        printLine(QStringLiteral("  ") + strings::text(TextId::CliNoneFound));
    for (const SerialPortEntry& p : ports) {
        QString line;
        if (json) {
            line = JsonLine()
                       .addText("device", p.device)
                       .addText("location", p.systemLocation)
                       .addText("description", p.description)
                       .text();
        } else {
            line = QStringLiteral("  ") + p.device;
            if (p.systemLocation != p.device && !p.systemLocation.isEmpty())
                line += QStringLiteral(" -> ") + p.systemLocation;
            if (!p.description.isEmpty())
                line += QStringLiteral("  (") + p.description + QLatin1Char(')');
        }
        if (!printLine(line))
            return kExitOk;
    }
    for (int n = 1; n <= 8; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);
        const QString device = map.resolve(name);
        const bool mapped = !map.mapping(name).isEmpty();
        QString line;
        if (json) {
            JsonLine port;
            port.addText("port", name);
            if (device.isEmpty())
                port.addNull("device");
            else
                port.addText("device", device);
            line = port.addBool("mapped", mapped).text();
        } else {
            line = name + QStringLiteral(": ") +
                   (device.isEmpty() ? strings::text(TextId::CliNoDevice) : device) +
                   QStringLiteral("  ") +
                   strings::text(mapped ? TextId::CliMapped : TextId::CliAutomatic);
        }
        if (!printLine(line))
            return kExitOk;
    }
    return kExitOk;
}

namespace {

// The name of a file in messages: "standard output" for -.
QString fileName(const QString& path) {
    return path == QLatin1String("-") ? strings::text(TextId::CliStandardOutput) : path;
}

// A stop signal before `path` is written leaves it unwritten, and says so; so does a
// standard output nobody reads any more when it is the target, quietly.
bool stoppedBeforeWriting(const QString& path) {
    if (stopSignalled()) {
        printError(strings::text(TextId::CliNotWrittenStopped).arg(fileName(path)));
        return true;
    }
    return path == QLatin1String("-") && outputClosed();
}

} // namespace

int cmdExportCsv(const Args& args) {
    if (args.positional.size() != 1) {
        printError(strings::text(TextId::CliNeedsOneCsv));
        return kExitUsage;
    }
    const QString path = args.positional.first();
    const std::optional<CsvEncoding> encoding = csvEncodingFromName(
        args.has("encoding") ? args.value("encoding") : QStringLiteral("utf-8"));
    if (!encoding) {
        printError(strings::text(TextId::CliMustBe)
                       .arg(QStringLiteral("--encoding"),
                            oneOf({QStringLiteral("utf-8"), QStringLiteral("utf-8-bom"),
                                   QStringLiteral("shift_jis")})));
        return kExitUsage;
    }
    ItemTable table;
    if (!loadTable(args, table, false))
        return kExitUsage;
    ListArrays lists;
    fillListArrays(table, args.has("hex"), lists);
    if (stoppedBeforeWriting(path))
        return kExitOk;
    QString error;
    if (path == QLatin1String("-")) {
        // A stream has no encoding of its own to keep: the one chosen, its mark first.
        const std::optional<QByteArray> bytes =
            csvBlockBytes(csvBlock(lists, strings::language()), *encoding, &error);
        if (!bytes) {
            printError(strings::text(TextId::CliCannotWrite).arg(fileName(path), error));
            return kExitUsage;
        }
        writeOutput(*bytes); // a failure is main()'s to report
        return kExitOk;
    }
    CsvWritten written;
    if (!appendCsv(path, lists, strings::language(), &error, &written, *encoding)) {
        printError(strings::text(TextId::CliCannotWrite).arg(path, error));
        return kExitUsage;
    }
    if (written.written != written.chosen)
        printError(strings::text(TextId::CliEncodingKept).arg(csvEncodingName(written.written)));
    return kExitOk;
}

int cmdReport(int argc, char** argv, const Args& args) {
    const QString pdf = args.value("pdf");
    if (pdf.isEmpty() || !args.positional.isEmpty()) {
        printError(strings::text(TextId::CliNeedsPdf));
        return kExitUsage;
    }
    const bool toOutput = pdf == QLatin1String("-");
#ifdef Q_OS_UNIX
    if (toOutput && ::isatty(STDOUT_FILENO)) {
        printError(strings::text(TextId::CliPdfTerminal));
        return kExitUsage;
    }
#endif
    ItemTable table;
    if (!loadTable(args, table, false))
        return kExitUsage;
    std::optional<InstrumentProfile> profile;
    if (!runProfile(args, table, &profile))
        return kExitUsage;
    // Rendering needs QtGui; no display is needed for a PDF.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication gui(argc, argv);
    ListArrays lists;
    fillListArrays(table, args.has("hex"), lists);
    fillListUnits(profile ? &*profile : nullptr, lists);
    const ReportModel model = ReportModel::build(lists, strings::language());
    if (stoppedBeforeWriting(pdf))
        return kExitOk;
    QString error;
    if (toOutput) {
        QByteArray bytes;
        if (!ReportRenderer::renderPdf(model, &bytes, &error)) {
            printError(strings::text(TextId::CliCannotWrite).arg(fileName(pdf), error));
            return kExitUsage;
        }
        writeOutput(bytes); // a failure is main()'s to report
        return kExitOk;
    }
    if (!ReportRenderer::renderPdf(model, pdf, &error)) {
        printError(strings::text(TextId::CliCannotWrite).arg(pdf, error));
        return kExitUsage;
    }
    return kExitOk;
}

} // namespace pmx::cli
