// find: the instrument search of the window's Setting menu, without the window.
#include "Commands.h"
#include "JsonLine.h"
#include "Overrides.h"
#include "StatusLine.h"
#include "TypedNames.h"
#include "comm/LineNotes.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "comm/SettingsStore.h"
#include "model/AppPaths.h"
#include "model/TableFile.h"
#include "text/ProgramMessages.h"
#include "text/StringTable.h"
#include "transfer/Finder.h"

#include <QRegularExpression>

namespace pmx::cli {

namespace {

// A word the shell takes as it is, or the word in single quotes.
QString shellWord(const QString& word) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/_.:,+=@%-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    return QLatin1Char('\'') + QString(word).replace(u'\'', QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

QString protocolEntry(ProtocolNumber p) {
    Conditions c;
    c.protocol = p;
    return cond::toTexts(c).protocol;
}

QString parityEntry(Parity parity) {
    Conditions c;
    c.parity = parity;
    return cond::toTexts(c).parity;
}

// The options of `read` that reach the instrument found.
QString optionLine(const ProbeTarget& t) {
    const QString protocol = protocolEntry(t.protocol);
    return QStringLiteral("--port %1 --protocol %2 --instrument %3 --rate %4 --data-bits %5 "
                          "--parity %6 --stop-bits %7")
        .arg(shellWord(t.port),
             protocol.contains(u' ') ? QLatin1Char('"') + protocol + QLatin1Char('"') : protocol)
        .arg(t.instrument)
        .arg(t.line.rate)
        .arg(t.line.dataBits)
        .arg(parityEntry(t.line.parity))
        .arg(t.line.stopBits);
}

// The same as one JSON object, its fields named as the options.
QString optionJson(const ProbeTarget& t) {
    return JsonLine()
        .addText("port", t.port)
        .addText("protocol", protocolEntry(t.protocol))
        .addNumber("instrument", t.instrument)
        .addNumber("rate", t.line.rate)
        .addNumber("data_bits", t.line.dataBits)
        .addText("parity", parityEntry(t.line.parity))
        .addNumber("stop_bits", t.line.stopBits)
        .text();
}

class CliFindView : public FinderView {
  public:
    CliFindView(StatusLine& status, bool json, bool quiet)
        : m_status(status), m_json(json), m_quiet(quiet) {}
    void tryStarting(int n, int m, const ProbeTarget& t) override {
        m_status.show(strings::text(TextId::CliFindTry).arg(n).arg(m).arg(probeTargetText(t)));
    }
    void found(const FoundInstrument& f) override {
        m_status.wipe();
        if (!printLine(m_json ? optionJson(f.target) : optionLine(f.target)) || m_quiet)
            return; // nobody reads on: the search ends before its next try
        QString note = answerText(f.result);
        if (!f.modelName.isEmpty())
            note += QStringLiteral(", ") + f.modelName;
        m_status.say(strings::text(TextId::CliFound).arg(probeTargetText(f.target), note));
    }
    void portSkipped(const QString& port, const QString& why) override {
        m_status.say(errorLine(strings::text(TextId::FinderPortSkipped).arg(port, why)));
    }
    void lineEchoes(const QString& port) override {
        m_status.say(port + QStringLiteral(": ") + echoingLineText());
    }
    void processEvents() override {}
    bool stopRequested() override { return runMustStop(); }

  private:
    StatusLine& m_status;
    bool m_json;
    bool m_quiet;
};

// Takes the conditions as the program reads them, and opens nothing: the search opens
// each device itself.
class ConditionsOnly : public CommObject {
  public:
    void activate(bool) override {}
    bool openPort() override { return false; }
    void closePort() override {}
    void resetExchange() override {}
    void dropStaleInput() override {}
    ExchangeResult sendCommand(const Request&) override { return {}; }
    QByteArray extractData(const QByteArray&, qint32) const override { return {}; }
};

bool fail(const QString& text) {
    printError(text);
    return false;
}

// The search's options from the command line and the conditions in effect.
bool findOptions(const Args& args, OverlayStore& store, FinderOptions* o) {
    const Choices& c = choices();
    for (const QString& name : args.values("protocol")) {
        const std::optional<ProtocolNumber> p = protocolFromTypedName(name);
        if (!p)
            return fail(strings::text(TextId::CliMustBe)
                            .arg(QStringLiteral("--protocol"), oneOf(protocolShortNames())));
        if (!o->protocols.contains(*p))
            o->protocols << *p;
    }
    if (!o->protocols.isEmpty())
        o->inEffect.protocol = o->protocols.first(); // the order given is kept
    if (args.has("instruments")) {
        QList<int> numbers;
        if (!parseInstrumentList(args.value("instruments"), c.firstInstrument, c.lastInstrument,
                                 &numbers))
            return fail(strings::text(TextId::CliInstrumentList)
                            .arg(QStringLiteral("--instruments"))
                            .arg(c.firstInstrument)
                            .arg(c.lastInstrument));
        for (int n : numbers)
            o->instruments << qint16(n);
        o->stopAtFirst = numbers.size() <= 1;
    }
    if (args.has("answer-wait")) {
        bool ok = false;
        o->answerWaitMs = args.value("answer-wait").toInt(&ok);
        if (!ok || o->answerWaitMs < kMinAnswerWaitMs || o->answerWaitMs > kMaxAnswerWaitMs)
            return fail(strings::text(TextId::CliMustBeRangeMs)
                            .arg(QStringLiteral("--answer-wait"))
                            .arg(kMinAnswerWaitMs)
                            .arg(kMaxAnswerWaitMs));
    }
    PortMap ports(store);
    for (const QString& port : args.values("port")) {
        QStringList devices;
        if (port == QLatin1String("all")) {
            for (const SerialPortEntry& e : ports.discovered())
                devices << e.device;
            if (devices.isEmpty())
                printError(QStringLiteral("--port all: ") + strings::text(TextId::FinderNoDevice));
        } else if (PortMap::comNumber(port.toUpper())) {
            const QString device = ports.resolve(port.toUpper());
            if (device.isEmpty())
                return fail(strings::text(TextId::NoSerialDevice).arg(port.toUpper()));
            devices << PortMap::stableName(device);
        } else if (const auto kind = PortMap::checkDeviceText(port.trimmed());
                   kind == PortMap::DeviceText::NotAPath ||
                   kind == PortMap::DeviceText::BadNetworkAddress) {
            return fail(strings::text(TextId::NotADevicePath).arg(port));
        } else {
            devices << PortMap::stableName(port.trimmed());
        }
        for (const QString& d : devices)
            if (!o->ports.contains(d))
                o->ports << d;
    }
    if (o->ports.isEmpty() && !args.has("port")) {
        const QString device = ports.resolve(o->inEffect.port);
        if (device.isEmpty())
            return fail(strings::text(TextId::NoSerialDevice).arg(o->inEffect.port));
        o->ports << PortMap::stableName(device);
    }
    return true;
}

} // namespace

int cmdFind(const Args& args) {
    QSettingsStore stored;
    OverlayStore store(stored);
    // The conditions in effect, with this run's overrides; protocols and ports are the
    // search's own.
    Args inEffect = args;
    for (const char* name : {"protocol", "port"})
        inEffect.remove(name);
    QString error;
    if (!applyOverrides(inEffect, store, &error)) {
        printError(error);
        return kExitUsage;
    }
    ConditionsOnly stated;
    applyConditions(stated, store);
    FinderOptions options;
    options.inEffect = stated.conditions();
    if (!findOptions(args, store, &options))
        return kExitUsage;
    if (options.ports.isEmpty())
        return kExitPort;

    ItemTable table; // for the model name, when the table file can be read
    table.englishNames = strings::language() == strings::Lang::English;
    const QString tablePath = args.has("table") ? args.value("table") : stateFilePath();
    if (!loadTableFile(tablePath, table, TableReadMode::AllOrNothing).ok)
        table = ItemTable();

    FinderPlan plan(options);
    const bool quiet = args.has("quiet");
    StatusLine status(!quiet && (args.has("progress") || stderrIsTerminal()));
    if (!quiet)
        status.say(QStringLiteral("find: ") + strings::text(TextId::FinderWorstCase)
                                                  .arg(plan.total())
                                                  .arg(durationText(plan.worstCaseMs())));
    CliFindView view(status, args.has("json"), quiet);
    auto com = makeComm(store);
    com->activate(true);
    const FinderResult result = runFinder(*com, plan, view, &table);
    status.wipe();
    if (!quiet && !outputClosed()) {
        const QString summary =
            result.cancelled
                ? strings::text(TextId::FinderCancelled).arg(result.tries).arg(result.found.size())
            : result.found.isEmpty() ? strings::text(TextId::FinderNothingFound).arg(result.tries)
                                     : strings::text(TextId::FinderFoundCount)
                                           .arg(result.found.size())
                                           .arg(result.tries);
        status.say(summary);
        // The usual cause of silence on a known line is an unknown instrument number.
        if (result.found.isEmpty() && !result.cancelled && !args.has("instruments"))
            status.say(strings::text(TextId::FinderOneInstrumentTried));
    }
    if (!result.found.isEmpty())
        return kExitOk;
    return result.failedPorts.size() == options.ports.size() ? kExitPort : kExitNothingFound;
}

} // namespace pmx::cli
