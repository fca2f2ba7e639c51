#include "transfer/Finder.h"

#include "comm/CommandFields.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include "text/StringTable.h"

namespace pmx {

namespace {

// `base` with the protocol, instrument, line settings and port of a try.
Conditions withTarget(Conditions base, const ProbeTarget& t, const QString& port) {
    base.protocol = t.protocol;
    base.instrument = t.instrument;
    base.rate = t.line.rate;
    base.dataBits = t.line.dataBits;
    base.parity = t.line.parity;
    base.stopBits = t.line.stopBits;
    base.port = port;
    return base;
}

} // namespace

ProbeOutcome classifyProbe(const ExchangeRecord& record) {
    switch (record.outcome) {
    case ExchangeOutcome::Good:
    case ExchangeOutcome::VerifyMismatch: // a good read, whatever it was compared with
        return ProbeOutcome::Answered;
    case ExchangeOutcome::Refused:
        return ProbeOutcome::Refused;
    case ExchangeOutcome::ChecksumError:
        return ProbeOutcome::Garbled;
    case ExchangeOutcome::DeviceLost:
        return ProbeOutcome::DeviceLost;
    case ExchangeOutcome::NoAnswer:
    case ExchangeOutcome::Stale:
        // An answer to another request is no proof either, but someone spoke; the line's
        // echo of the probe is the adapter speaking, not the instrument.
        return record.answer.size() <= record.echoBytes && record.discardedFrames == 0
                   ? ProbeOutcome::Silent
                   : ProbeOutcome::Noise;
    case ExchangeOutcome::Broadcast:
        break;
    }
    return ProbeOutcome::Silent;
}

ProbeResult probeInstrument(CommObject& com, const ProbeTarget& t, int answerWaitMs) {
    Conditions c = withTarget(com.conditions(), t, t.port);
    c.timeoutMs = probeTimeoutMs(t, answerWaitMs);
    c.blockRead = false;
    com.closePort();
    com.setConditions(c);

    ProbeResult r;
    if (!com.openPort()) {
        r.outcome = ProbeOutcome::PortFailed;
        r.why = com.lastOpenErrorText();
        if (r.why.isEmpty())
            r.why = strings::text(TextId::NoSuchDevice).arg(t.port);
        return r;
    }
    Request probe = Request::read(t.instrument, QByteArrayLiteral("0000"));
    probe.maxSends = 1; // a garbled answer is a finding, not something to try again
    const ExchangeResult result = sendItemCommand(com, probe);
    const bool lost = com.deviceLost() || result.outcome == ExchangeOutcome::DeviceLost;
    com.closePort();
    ExchangeRecord record;
    record.outcome = result.outcome;
    record.refusalCode = result.refusalCode;
    record.answer = result.received;
    record.echoBytes = result.echoBytes;
    record.discardedFrames = result.discardedFrames;
    r.outcome = lost ? ProbeOutcome::DeviceLost : classifyProbe(record);
    r.echoes = result.echoBytes > 0;
    if (r.outcome == ProbeOutcome::DeviceLost)
        r.why = strings::text(TextId::ConnectionLost).arg(t.port);
    else if (r.outcome == ProbeOutcome::Refused)
        r.refusalCode = result.refusalCode;
    else if (r.outcome == ProbeOutcome::Answered && !result.values.isEmpty())
        r.value = result.values.first();
    return r;
}

QString answerText(const ProbeResult& r) {
    switch (r.outcome) {
    case ProbeOutcome::Answered:
        return r.value ? strings::text(TextId::FinderAnswerValue)
                             .arg(strings::text(TextId::OutcomeGood), itemAddressText(0))
                             .arg(*r.value)
                       : strings::text(TextId::OutcomeGood);
    case ProbeOutcome::Refused:
        // A KORVAN code is a NAK's, a Modbus one an exception's; both are two hex digits.
        return r.refusalCode.isEmpty()
                   ? strings::text(TextId::OutcomeRefused)
                   : strings::text(TextId::FinderRefusedCode).arg(r.refusalCode);
    default:
        return {};
    }
}

FinderResult runFinder(CommObject& com, FinderPlan& plan, FinderView& view,
                       const ItemTable* table) {
    const Conditions before = com.conditions();
    FinderResult out;
    com.closePort();
    while (!plan.atEnd()) {
        view.processEvents();
        if (view.stopRequested()) {
            out.cancelled = true;
            break;
        }
        const ProbeTarget t = plan.next();
        view.tryStarting(plan.done(), plan.total(), t);
        const ProbeResult r = probeInstrument(com, t, plan.answerWaitMs());
        ++out.tries;
        if (r.echoes && !out.echoingPorts.contains(t.port)) {
            out.echoingPorts << t.port;
            view.lineEchoes(t.port);
        }
        switch (r.outcome) {
        case ProbeOutcome::Answered:
        case ProbeOutcome::Refused: {
            FoundInstrument f{t, r, QString()};
            if (table && r.outcome == ProbeOutcome::Answered && !table->isUndefined(0))
                f.modelName = table->modelName;
            out.found << f;
            plan.found(t);
            view.found(f);
            break;
        }
        case ProbeOutcome::Garbled:
        case ProbeOutcome::Noise:
            plan.garbled(t);
            break;
        case ProbeOutcome::PortFailed:
        case ProbeOutcome::DeviceLost:
            if (!out.failedPorts.contains(t.port))
                out.failedPorts << t.port;
            plan.portFailed(t.port);
            view.portSkipped(t.port, r.why);
            break;
        case ProbeOutcome::Silent:
            break;
        }
    }
    com.closePort();
    com.setConditions(before);
    return out;
}

QString storeFoundSettings(SettingsStore& store, PortMap& ports, const ProbeTarget& t) {
    const cond::StoredConditions stored = cond::readStored(store);
    QString com;
    if (PortMap::comNumber(t.port) && cond::isValidPort(t.port.toUpper()))
        com = t.port.toUpper(); // a port the system names itself
    else
        com = cond::isValidPort(stored.port) ? stored.port : cond::kDefaultPort;
    // Pinned to the device found even when the automatic choice opens it now: another
    // adapter plugged in later must not take its place.
    if (com != t.port.toUpper() && ports.mapping(com) != t.port)
        ports.setMapping(com, t.port);

    Conditions c = withTarget(Conditions{}, t, com);
    cond::StoredConditions texts = cond::toTexts(c);
    texts.timeout = stored.timeout; // the probe's short time-out was the search's own
    cond::writeStored(store, texts);
    return com;
}

} // namespace pmx
