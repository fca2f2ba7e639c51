// Finding the instrument on a scripted line with a virtual clock: what a try proves, the
// order of the tries, what a finding ends, and storing what was found.
#include "ScriptedTransport.h"
#include "SimInstrument.h"
#include "TestPrinters.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "comm/SettingsStore.h"
#include "transfer/Finder.h"

#include <gtest/gtest.h>
#include <set>

using namespace pmx;
using pmx::test::ScriptedTransport;
using Reply = ScriptedTransport::Reply;

namespace {

sim::Protocol simProtocol(qint16 p) {
    return p == kProtocolKorvan        ? sim::Protocol::Korvan
           : p == kProtocolModbusAscii ? sim::Protocol::ModbusAscii
                                       : sim::Protocol::ModbusRtu;
}

// One virtual instrument behind a scripted line: silent unless the port is opened at its
// rate; at its rate with other bits, parity or stop bits every answer comes garbled.
struct LineRig {
    LineRig(qint16 protocol, int instrumentNo, LineSetting line)
        : instrument(simProtocol(protocol), instrumentNo), line(line) {
        auto t = std::make_unique<ScriptedTransport>();
        transport = t.get();
        transport->responder = [this](const QByteArray& request) { return answer(request); };
        com = std::make_unique<SerialComm>(std::move(t), [](const QString& n) { return n; });
    }
    Reply answer(const QByteArray& request) {
        const LineSettings& o = transport->opened;
        if (o.baudRate != line.rate)
            return {};
        QByteArray bytes;
        for (const sim::Reply& r : instrument.feed(request))
            bytes += r.bytes;
        for (const sim::Reply& r : instrument.lineIdle())
            bytes += r.bytes;
        instrument.discardPending();
        if (bytes.isEmpty())
            return {};
        const bool framing = o.dataBits == line.dataBits && o.parity == char(line.parity) &&
                             o.stopBits == line.stopBits;
        if (framing)
            return Reply::whole(bytes);
        return garbleOffLine ? Reply::whole(sim::garbageBytes()) : Reply{};
    }
    ProbeResult probe(const ProbeTarget& t) { return probeInstrument(*com, t, 50); }

    sim::Instrument instrument;
    LineSetting line;
    bool garbleOffLine = true;
    ScriptedTransport* transport = nullptr;
    std::unique_ptr<SerialComm> com;
};

// Progress counts the tries from 1 and never passes the tries planned.
class View : public FinderView {
  public:
    void tryStarting(int n, int m, const ProbeTarget&) override {
        EXPECT_EQ(n, ++tries);
        EXPECT_GE(m, n);
    }
    void found(const FoundInstrument&) override {}
    void processEvents() override {}
    bool stopRequested() override { return false; }
    int tries = 0;
};

FinderOptions options(ProtocolNumber p, QStringList ports = {"/dev/ttyX"}) {
    FinderOptions o;
    o.ports = std::move(ports);
    o.protocols = {p};
    o.inEffect.protocol = p;
    return o;
}

} // namespace

// The other outcomes come from real exchanges in the FinderProbe tests.
TEST(Finder, AStaleAnswerIsNoiseAndARefusalProvesTheSettings) {
    ExchangeRecord stale;
    stale.outcome = ExchangeOutcome::Stale;
    stale.discardedFrames = 1;
    EXPECT_EQ(classifyProbe(stale), ProbeOutcome::Noise);
    EXPECT_TRUE(provesSettings(ProbeOutcome::Refused));
    EXPECT_FALSE(provesSettings(ProbeOutcome::Garbled));
}

class FinderProbe : public ::testing::TestWithParam<test::ProtocolCase> {};

TEST_P(FinderProbe, OneReadThroughTheSerialObjectPerTryAndThePortClosedAfter) {
    const auto p = ProtocolNumber(GetParam().no);
    const LineSetting at{4800, 8, Parity::None, 2};
    const ProbeTarget right{"/dev/ttyX", p, at, 7};
    const ProbeTarget otherBits{"/dev/ttyX", p, {4800, 8, Parity::Even, 2}, 7};
    const ProbeTarget otherRate{"/dev/ttyX", p, {9600, 8, Parity::None, 2}, 7};
    const ProbeTarget otherInstrument{"/dev/ttyX", p, at, 8};
    const std::tuple<const char*, ProbeTarget, sim::FaultKind, ProbeOutcome> cases[] = {
        {"good", right, sim::FaultKind::None, ProbeOutcome::Answered},
        {"refused", right, sim::FaultKind::Nak, ProbeOutcome::Refused},
        {"spoiled checksum", right, sim::FaultKind::BadSum, ProbeOutcome::Garbled},
        {"garbage", right, sim::FaultKind::Garbage, ProbeOutcome::Noise},
        {"other parity", otherBits, sim::FaultKind::None, ProbeOutcome::Noise},
        {"other rate", otherRate, sim::FaultKind::None, ProbeOutcome::Silent},
        {"other instrument", otherInstrument, sim::FaultKind::None, ProbeOutcome::Silent},
    };
    for (const auto& [what, target, fault, expected] : cases) {
        SCOPED_TRACE(what);
        LineRig rig(p, 7, at);
        rig.instrument.setFault(0, {fault, 2, 0, 0});
        const ProbeResult r = rig.probe(target);
        EXPECT_EQ(r.outcome, expected);
        EXPECT_EQ(rig.transport->written.size(), 1) << "one request, never repeated";
        EXPECT_FALSE(rig.com->isOpen());
        EXPECT_EQ(rig.transport->opened.baudRate, target.line.rate);
        EXPECT_EQ(rig.com->conditions().timeoutMs, probeTimeoutMs(target, 50));
        // Item 0000h holds -1.
        EXPECT_EQ(r.value,
                  expected == ProbeOutcome::Answered ? std::optional<qint16>(-1) : std::nullopt);
        EXPECT_EQ(r.refusalCode, expected == ProbeOutcome::Refused ? "02" : "");
    }
}

// A port that does not open is skipped through the real serial object in FinderE2E.
TEST_P(FinderProbe, ADeviceThatGoesAwayEndsTheTriesOnIt) {
    const auto p = ProtocolNumber(GetParam().no);
    LineRig gone(p, 1, {});
    gone.transport->replies.push_back(Reply{{}, false, true});
    const ProbeResult r = gone.probe({"/dev/ttyX", p, {}, 1});
    EXPECT_EQ(r.outcome, ProbeOutcome::DeviceLost);
    EXPECT_FALSE(r.why.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(All, FinderProbe, test::allProtocols(),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FinderOrder, LineSettingsAreEveryDialogEntryTheProtocolCanUseLikeliestFirstInTheBudget) {
    for (ProtocolNumber p : {kProtocolKorvan, kProtocolModbusAscii, kProtocolModbusRtu}) {
        SCOPED_TRACE(p);
        const QList<LineSetting> lines = lineSettingsFor(p);
        std::set<QString> distinct;
        for (const LineSetting& l : lines) {
            distinct.insert(lineSettingText(l));
            EXPECT_TRUE(QList<qint32>({2400, 4800, 9600, 19200}).contains(l.rate));
            if (p == kProtocolModbusRtu) {
                EXPECT_EQ(l.dataBits, 8) << "RTU bytes use all eight bits";
            }
        }
        EXPECT_EQ(distinct.size(), size_t(lines.size()));
        EXPECT_EQ(lines.size(), p == kProtocolModbusRtu ? 24 : 48);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lineSettingText(lines.first()), p == kProtocolModbusRtu
                                                      ? QStringLiteral("9600 8E1")
                                                      : QStringLiteral("9600 7E1"));
        // One protocol's line settings at one instrument fit the budget.
        const FinderPlan plan(options(p));
        EXPECT_LT(plan.worstCaseMs(), 10000);
        EXPECT_GT(plan.worstCaseMs(), plan.total() * kDefaultAnswerWaitMs);
    }
}

TEST(FinderOrder, TheConditionsInEffectFirstThenEveryProtocolBeforeOtherInstruments) {
    FinderOptions o;
    o.ports = {"/dev/a", "/dev/b"};
    o.inEffect = {.protocol = kProtocolModbusAscii, .instrument = 0, .rate = 2400, .stopBits = 2};
    o.allInstruments = true;
    const FinderPlan plan(o);
    const QList<ProbeTarget>& t = plan.pending();
    // Station 0 is no Modbus instrument: 1 stands in for it.
    ASSERT_FALSE(t.isEmpty());
    EXPECT_EQ(t.first(),
              (ProbeTarget{"/dev/a", kProtocolModbusAscii, {2400, 7, Parity::Even, 2}, 1}));
    EXPECT_EQ(t.at(48).protocol, kProtocolKorvan)
        << "the protocol in effect first, then the others";
    EXPECT_EQ(t.at(48).instrument, 0);
    // The first pass: every port and protocol at the instrument in effect.
    const int firstPass = 2 * (48 + 48 + 24);
    for (int i = 0; i < firstPass; ++i)
        EXPECT_TRUE(t[i].instrument == (t[i].protocol == kProtocolKorvan ? 0 : 1)) << i;
    EXPECT_EQ(t.at(firstPass).port, QStringLiteral("/dev/a"));
    for (const ProbeTarget& x : t)
        EXPECT_FALSE(x.protocol != kProtocolKorvan && x.instrument == 0) << "never a broadcast";

    FinderOptions listed = o;
    listed.instruments = {0, 17};
    EXPECT_EQ(instrumentsFor(kProtocolModbusRtu, listed), QList<qint16>{17});
    EXPECT_EQ(instrumentsFor(kProtocolKorvan, listed), (QList<qint16>{0, 17}));
}

// How garbage moves the likely settings forward shows in FinderRun.
TEST(FinderOrder, AFindingEndsTheOtherTriesOnItsPort) {
    // One protocol and one line per port: only the other instrument there goes on.
    FinderOptions o = options(kProtocolKorvan, {"/dev/a", "/dev/b"});
    o.instruments = {1, 2};
    o.stopAtFirst = false;
    FinderPlan going(o);
    const int before = going.total();
    const ProbeTarget first = going.next();
    going.found(first);
    ASSERT_FALSE(going.pending().isEmpty());
    EXPECT_EQ(going.pending().first(), (ProbeTarget{"/dev/a", kProtocolKorvan, first.line, 2}));
    EXPECT_EQ(going.total(), before - 2 * 48 + 1 + 1);
    going.portFailed(QStringLiteral("/dev/b"));
    EXPECT_EQ(going.total(), 2);

    FinderPlan stopping(options(kProtocolKorvan));
    stopping.found(stopping.next());
    EXPECT_TRUE(stopping.atEnd());
}

TEST(FinderRun, FindsAnUnusualInstrumentAndGarbageShortensTheWay) {
    const LineSetting at{4800, 7, Parity::Even, 2};
    const auto run = [&](bool garbleOffLine) {
        LineRig rig(kProtocolModbusAscii, 17, at);
        rig.garbleOffLine = garbleOffLine;
        FinderOptions o = options(kProtocolModbusAscii);
        o.instruments = {17};
        FinderPlan plan(o);
        View view;
        ItemTable table;
        table.modelName = QStringLiteral("PMX-31570A");
        const FinderResult r = runFinder(*rig.com, plan, view, &table);
        EXPECT_EQ(r.tries, view.tries);
        return r;
    };
    const FinderResult noisy = run(true);
    ASSERT_EQ(noisy.found.size(), 1);
    EXPECT_EQ(noisy.found.first().target, (ProbeTarget{"/dev/ttyX", kProtocolModbusAscii, at, 17}));
    EXPECT_EQ(noisy.found.first().modelName, QStringLiteral("PMX-31570A"));
    const FinderResult quiet = run(false);
    ASSERT_EQ(quiet.found.size(), 1);
    EXPECT_LT(noisy.tries, quiet.tries);
}

TEST(FinderStore, UseTheseSettingsStoresTheRecordAndMapsTheComInEffect) {
    // The port stored before, the device found, then the port stored and what it maps to.
    const std::tuple<const char*, QString, const char*, const char*> cases[] = {
        {"COM3", "/dev/serial/by-id/usb-X", "COM3", "/dev/serial/by-id/usb-X"},
        {"COM9", "tcp://10.0.0.5:4001", "COM1", "tcp://10.0.0.5:4001"},
        {"COM2", "com4", "COM4", ""}, // a port the system names itself
    };
    for (const auto& [storedPort, found, port, mapped] : cases) {
        MemorySettingsStore store;
        store.setValue(cond::kSection, cond::kPort, QString::fromLatin1(storedPort));
        store.setValue(cond::kSection, cond::kTimeoutKey, QStringLiteral("1500"));
        PortMap ports(store, [] { return QList<SerialPortEntry>{}; });
        const ProbeTarget t{found, kProtocolModbusRtu, {2400, 8, Parity::None, 2}, 17};
        EXPECT_EQ(storeFoundSettings(store, ports, t), QString::fromLatin1(port));
        EXPECT_EQ(cond::readStored(store).list().join(u'|'),
                  QStringLiteral("Modbus RTU|17|2400|8 bit|2 bit|NONE|%1|1500").arg(port));
        EXPECT_EQ(ports.mapping(QString::fromLatin1(port)), QString::fromLatin1(mapped));
    }
}
