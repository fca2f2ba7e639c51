// The instrument profile on the command line: which one a run uses, `profile check`, and
// `watch`, which reads the live items again and again.
#include "ProfileCommands.h"
#include "Commands.h"
#include "JsonLine.h"
#include "Overrides.h"
#include "StatusLine.h"
#include "comm/SerialComm.h"
#include "model/ModelDefinition.h"
#include "model/TableFile.h"
#include "text/ProgramMessages.h"
#include "text/StringTable.h"
#include "text/ValueText.h"
#include "transfer/Sequences.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace pmx::cli {

bool runProfile(const Args& args, const ItemTable& table, std::optional<InstrumentProfile>* out) {
    out->reset();
    if (args.has("no-profile"))
        return true;
    const QString path =
        args.has("profile") ? args.value("profile") : findProfile(QString(), table.modelName);
    if (path.isEmpty())
        return true;
    const ProfileLoadResult r = loadProfile(path);
    if (!r.ok()) {
        // Never in part: a run that would write or compare by half a profile does not start.
        printError(
            strings::text(TextId::ProfileRefused).arg(path, r.errorText(strings::language())));
        return false;
    }
    if (!args.has("quiet"))
        err() << strings::text(TextId::ProfileInUse).arg(path) << '\n';
    *out = r.profile;
    return true;
}

namespace {

QString kindName(ItemKind kind) {
    switch (kind) {
    case ItemKind::Live:
        return QStringLiteral("live");
    case ItemKind::Readonly:
        return QStringLiteral("readonly");
    case ItemKind::Setting:
        break;
    }
    return QStringLiteral("setting");
}

bool described(const ItemProfile& p) {
    return p.kind != ItemKind::Setting || p.min || p.max || !p.unit.isEmpty() ||
           !p.note.isEmpty() || !p.noteJa.isEmpty();
}

// What a watch tells of the line while it runs: failures on standard error.
class WatchView : public TransferView {
  public:
    explicit WatchView(StatusLine& status) : m_status(status) {}
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override {}
    void showError(int messageId, int item) override {
        m_status.say(errorLine(itemAddressText(item) + QStringLiteral("h: ") +
                               strings::text(TextId(messageId))));
    }
    void processEvents() override {}
    bool selectionBoxTicked(int) override { return true; }
    bool stopRequested() override { return runMustStop(); }
    void connectionLost(const QString& device) override {
        m_status.say(errorLine(strings::text(TextId::ConnectionLost).arg(device)));
    }
    void notice(const QString& text) override { m_status.say(errorLine(text)); }

  private:
    StatusLine& m_status;
};

// Waits `ms`, in short steps so that Ctrl+C ends the wait at once.
void pause(int ms) {
    for (int waited = 0; waited < ms && !runMustStop(); waited += 50)
        QThread::msleep(ulong(std::min(50, ms - waited)));
}

bool readNumberOption(const Args& args, const char* name, int low, int high, int* value) {
    if (!args.has(name))
        return true;
    bool ok = false;
    const int v = args.value(name).toInt(&ok);
    if (!ok || v < low || v > high) {
        printError(strings::text(TextId::CliMustBe)
                       .arg(QLatin1String("--") + QLatin1String(name),
                            QStringLiteral("%1..%2").arg(low).arg(high)));
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int cmdProfile(const Args& args) {
    if (args.positional.value(0) != QLatin1String("check") || args.positional.size() > 2) {
        printError(strings::text(TextId::CliExtraArgument)
                       .arg(args.positional.value(
                                args.positional.value(0) == QLatin1String("check") ? 2 : 0),
                            args.command));
        return kExitUsage;
    }
    ItemTable table;
    table.englishNames = strings::language() == strings::Lang::English;
    QString path = args.positional.value(1);
    if (path.isEmpty()) {
        // Which profile the table's model would get.
        if (!loadTable(args, table, false))
            return kExitUsage;
        path = findProfile(QString(), table.modelName);
        if (path.isEmpty()) {
            printLine(strings::text(TextId::ProfileNone).arg(table.modelName));
            return kExitOk;
        }
    } else if (args.has("table")) {
        if (!loadTable(args, table, true))
            return kExitUsage;
    } else {
        // The item names of the model definition beside the profile, where there is one.
        const QFileInfo info(path);
        const QString beside =
            info.dir().filePath(info.completeBaseName() + QStringLiteral(".txt"));
        if (QFileInfo(beside).isFile())
            loadModelDefinition(beside, table.englishNames, table);
    }
    const ProfileLoadResult r = loadProfile(path);
    if (!r.ok()) {
        printError(
            strings::text(TextId::ProfileRefused).arg(path, r.errorText(strings::language())));
        return kExitUsage;
    }
    const InstrumentProfile& p = *r.profile;
    int count = 0, ranged = 0, withUnit = 0;
    for (const ItemProfile& item : p.items) {
        count += described(item);
        ranged += item.min || item.max;
        withUnit += !item.unit.isEmpty();
    }
    if (!printLine(strings::text(TextId::ProfileWouldUse)
                       .arg(path)
                       .arg(count)
                       .arg(count - p.count(ItemKind::Live) - p.count(ItemKind::Readonly))
                       .arg(p.count(ItemKind::Live))
                       .arg(p.count(ItemKind::Readonly))
                       .arg(ranged)
                       .arg(withUnit)))
        return kExitOk;
    const strings::Lang lang = strings::language();
    for (int i = 0; i < kItemCount; ++i) {
        const ItemProfile& item = p.items[i];
        if (!described(item))
            continue;
        QString line = itemAddressText(i) + QLatin1Char('\t') + table.names[i] + QLatin1Char('\t') +
                       kindName(item.kind) + QLatin1Char('\t') + p.rangeText(i, lang) +
                       QLatin1Char('\t') + p.note(i, lang);
        if (args.has("json")) {
            JsonLine json;
            json.addText("address", itemAddressText(i)).addText("kind", kindName(item.kind));
            if (!table.names[i].isEmpty())
                json.addText("name", table.names[i]);
            if (!item.unit.isEmpty())
                json.addText("unit", item.unit);
            if (item.min)
                json.addNumber("min", *item.min);
            if (item.max)
                json.addNumber("max", *item.max);
            if (!p.note(i, lang).isEmpty())
                json.addText("note", p.note(i, lang));
            line = json.text();
        }
        if (!printLine(line))
            break;
    }
    return kExitOk;
}

int cmdWatch(const Args& args, OverlayStore& store) {
    int interval = 1000;
    int count = 0; // 0: until stopped
    if (!readNumberOption(args, "interval", 100, 3600000, &interval) ||
        !readNumberOption(args, "count", 1, 100000000, &count))
        return kExitUsage;
    ItemTable table;
    table.englishNames = strings::language() == strings::Lang::English;
    if (!loadTable(args, table, false))
        return kExitUsage;
    std::optional<InstrumentProfile> profile;
    if (!runProfile(args, table, &profile))
        return kExitUsage;
    // The table's selected live items, and nothing else.
    ItemTable watched = table;
    QList<int> items;
    for (int i = 0; i < kItemCount; ++i) {
        const bool live = profile && table.isSelected(i) && profile->isLive(i);
        watched.selections[i] = live ? Selection::Selected : Selection::Cleared;
        if (live)
            items << i;
    }
    if (items.isEmpty()) {
        printError(strings::text(TextId::CliWatchNeedsLive));
        return kExitUsage;
    }
    auto com = makeComm(store);
    if (int rc = openPort(*com, store))
        return rc;
    StatusLine status(!args.has("quiet") && stderrIsTerminal());
    WatchView view(status);
    TransferContext ctx{watched, *com, view};
    bool anyFailed = false;
    bool lost = false;
    const bool json = args.has("json");
    const bool hex = args.has("hex");
    for (int round = 1; count == 0 || round <= count; ++round) {
        const QDateTime started = QDateTime::currentDateTime();
        const TransferResult r = readAllItems(ctx);
        if (r.lost) {
            lost = true;
            break;
        }
        if (r.stopped || runMustStop())
            break;
        anyFailed = anyFailed || !r.failed.isEmpty();
        QString line;
        if (json) {
            JsonLine j;
            j.addNumber("round", round).addText("time", started.toString(Qt::ISODateWithMs));
            for (int i : items) {
                const QByteArray key = itemAddressText(i).toLatin1();
                if (r.good.contains(i))
                    j.addNumber(key.constData(), watched.values[i]);
                else
                    j.addNull(key.constData());
            }
            line = j.text();
        } else {
            QStringList parts{started.toString(QStringLiteral("HH:mm:ss.zzz"))};
            for (int i : items) {
                const QString value =
                    r.good.contains(i) ? formatValue(watched.values[i], hex) : QStringLiteral("-");
                QString part = itemAddressText(i) + QStringLiteral("h ") + value;
                if (profile && !profile->unit(i).isEmpty())
                    part += QLatin1Char(' ') + profile->unit(i);
                parts << part;
            }
            line = parts.join(QLatin1Char('\t'));
        }
        if (!printLine(line))
            break;
        if (count != 0 && round == count)
            break;
        // The next round begins an interval after this one began.
        pause(int(std::max<qint64>(0, interval - started.msecsTo(QDateTime::currentDateTime()))));
    }
    com->closePort();
    status.wipe();
    if (lost)
        return kExitPort;
    return anyFailed ? kExitSomeFailed : kExitOk;
}

} // namespace pmx::cli
