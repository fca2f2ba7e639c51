// history: the change log, as lines, JSON lines, or a commissioning record (PDF, CSV).
#include "Commands.h"

#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "report/render/CommissioningPdf.h"
#include "text/StringTable.h"
#include "transfer/ChangeLog.h"
#include "transfer/Commissioning.h"

#include <QGuiApplication>
#include <QTimeZone>

namespace pmx::cli {

namespace {

// "2026-03-01" (local midnight) or "2026-03-01T14:30" (local time).
QDateTime sinceOf(const QString& text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid())
        return day.startOfDay().toUTC();
    QDateTime at = QDateTime::fromString(text, Qt::ISODate);
    if (at.isValid() && at.timeSpec() == Qt::LocalTime)
        return at.toUTC();
    return at.isValid() ? at.toUTC() : QDateTime();
}

QString textLine(const ChangeRecord& r) {
    const strings::Lang lang = strings::language();
    QStringList f;
    f << r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << r.user << r.port
      << QString::number(r.instrument)
      << QString::number(r.item, 16).rightJustified(4, QLatin1Char('0')).toUpper() +
             QLatin1Char('h')
      << r.name << (r.before ? QString::number(*r.before) : QStringLiteral("-"))
      << QString::number(r.written) << outcomeText(r, lang);
    return f.join(QLatin1Char('\t'));
}

bool writeFileOrOutput(const QString& path, const QByteArray& bytes) {
    if (path == QLatin1String("-"))
        return writeOutput(bytes);
    QString error;
    if (!writeFileAtomically(path, bytes, &error)) {
        printError(strings::text(TextId::CliCannotWrite).arg(path, error));
        return false;
    }
    return true;
}

} // namespace

int cmdHistory(int argc, char** argv, const Args& args) {
    ChangeFilter filter;
    if (args.has("since")) {
        filter.since = sinceOf(args.value("since"));
        if (!filter.since.isValid()) {
            printError(strings::text(TextId::CliHistoryBadDate));
            return kExitUsage;
        }
    }
    if (args.has("instrument")) {
        bool ok = false;
        const int n = args.value("instrument").toInt(&ok);
        if (!ok || n < 0 || n > 255) {
            printError(strings::text(TextId::CliHistoryBadInstrument));
            return kExitUsage;
        }
        filter.instrument = n;
    }
    filter.transfer = args.value("transfer");
    for (const char* option : {"pdf", "csv"}) {
        const QString path = args.value(option);
        if (args.has(option) && path != QLatin1String("-")) {
            if (const QString why = whyNotWritable(path); !why.isEmpty()) {
                printError(strings::text(TextId::CliCannotWrite).arg(path, why));
                return kExitUsage;
            }
        }
    }
    // Rendering needs QtGui; no display is needed for a PDF.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication gui(argc, argv);
    ChangeLog& log = ChangeLog::standard();
    if (const QString torn = log.recover(); !torn.isEmpty())
        printError(torn);
    int unreadable = 0;
    QList<ChangeRecord> records;
    for (const ChangeRecord& r : readChangeHistory(log.folder(), &unreadable))
        if (filter.matches(r))
            records << r;
    if (unreadable > 0)
        printError(strings::text(TextId::HistoryUnreadable).arg(unreadable));
    if (args.has("pdf") || args.has("csv")) {
        const CommissioningSheet sheet = commissioningSheet(records, strings::language());
        if (args.has("csv") && !writeFileOrOutput(args.value("csv"), commissioningCsv(sheet)))
            return kExitUsage;
        if (args.has("pdf")) {
            QByteArray pdf;
            QString error;
            if (!commissioningPdf(sheet, &pdf, &error)) {
                printError(strings::text(TextId::CliCannotWrite).arg(args.value("pdf"), error));
                return kExitUsage;
            }
            if (!writeFileOrOutput(args.value("pdf"), pdf))
                return kExitUsage;
        }
        return kExitOk;
    }
    for (const ChangeRecord& r : records)
        if (!printLine(args.has("json") ? QString::fromUtf8(r.toJson()) : textLine(r)))
            break;
    return kExitOk;
}

} // namespace pmx::cli
