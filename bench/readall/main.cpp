// bench_readall: reading all 128 items (all selected) with the real read sequence and
// serial object against the virtual instrument on a pty, per protocol.
//
//   1. Paced at 9600 and 19200 bit/s, 7E1 (10 bits a character): elapsed time against
//      the wire time of the bytes exchanged, plus Modbus RTU's 3.5-character silence
//      before each request (goal <= 1.10).
//   2. A silent instrument, time-out 100 ms: elapsed time against 128 time-outs (goal
//      <= 1.05 for KORVAN, whose answers echo the item; <= 2.05 for Modbus, where the line
//      must stay quiet for one more time-out after a missing answer).
//   3. A late instrument, every answer 1.5 and 4.5 time-outs after its request (the late
//      answer lands in the quiet after the miss, or in a later item's exchange): no value
//      may be stored and no item reported good; elapsed time per item in time-outs.
//   4. Block reads (Modbus), paced as in 1: elapsed against the per-item read of the same
//      line (goal <= 0.20) and against the block read's own wire time (goal <= 1.10), with
//      the values identical; then an instrument that refuses blocks spanning 0040h: the
//      fallback's elapsed time and requests against the per-item read.
//   5. As 1, with the communication monitor open (offscreen unless a display is chosen)
//      and fed by the serial object: elapsed / wire time (goal <= 1.10), and against the
//      same read without it.
//   6. Unpaced, on a pty and over loopback TCP (the instrument's --tcp): elapsed time of
//      the whole read; TCP against the pty (goal <= 1.5: the connection adds little).
//      Over TCP no RTU silence is kept, so RTU may come out faster than on the pty.
//   7. Paced as in 1: compare with the instrument, and the write of the differences
//      (write --only-changed, with and without --verify) for k = 0, 8 and 32 differing
//      items, against their wire time (goal <= 1.10; see CompareBench.cpp).
//
// Usage: bench_readall [--paced | --compare]
//        (--paced leaves out sections 2, 3 and 7; --compare runs section 7 only)
#include "BenchSupport.h"
#include "CompareBench.h"
#include "ReadAllSupport.h"
#include "ReadBeforeWriteBench.h"
#include "SimProcess.h"
#include "comm/ExchangeRecord.h"
#include "comm/SerialComm.h"
#include "transfer/Sequences.h"
#include "ui/MonitorWindow.h"

#include <QApplication>
#include <QMap>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace pmx;
using namespace pmx::bench;

namespace {

constexpr int kSilentTimeoutMs = 100;

void setBlockReads(SerialComm& com, bool on) {
    Conditions c = com.conditions();
    c.blockRead = on;
    com.setConditions(c);
}

// Characters on the wire for one function-03 read of `count` registers, request and
// answer, plus RTU's 3.5-character silence before the request.
double blockChars(ProtocolNumber protocol, int count) {
    if (protocol == kProtocolModbusRtu)
        return 8 + (5 + 2 * count) + 3.5; // address, function, 4 bytes, CRC; + byte count
    return 17 + (11 + 4 * count);         // ':', hex pairs, LRC, CR LF
}

// The per-item read and the block read of the same line: (per-item, block, identical).
struct Pair {
    Run single, block;
    bool identical = false;
    int blockRequests = 0;
};

Pair readBothWays(SerialComm& com, test::SimProcess& sim) {
    Pair out;
    ItemTable single, block;
    setBlockReads(com, false);
    out.single = readAll(com, &single);
    const qsizetype before = sim.logLines().size();
    setBlockReads(com, true);
    out.block = readAll(com, &block);
    out.blockRequests = int(sim.logLines().size() - before);
    setBlockReads(com, false);
    out.identical = single.values == block.values &&
                    out.single.result.good == out.block.result.good &&
                    out.single.result.failed == out.block.result.failed &&
                    out.single.result.failedMessage == out.block.result.failedMessage;
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool pacedOnly = QCoreApplication::arguments().contains(QStringLiteral("--paced"));
    if (QCoreApplication::arguments().contains(QStringLiteral("--read-before-write"))) {
        const bool met = benchReadBeforeWrite();
        std::printf("\n%s\n", met ? "All goals met." : "Some goals NOT MET.");
        return met ? 0 : 1;
    }
    if (QCoreApplication::arguments().contains(QStringLiteral("--compare"))) {
        const bool met = benchCompareAndWriteDifferences();
        std::printf("\n%s\n", met ? "All goals met." : "Some goals NOT MET.");
        return met ? 0 : 1;
    }
    bool allMet = true;
    QMap<QPair<int, int>, double> plainRatio; // by protocol and rate

    std::printf("Read of all 128 items (readAllItems + SerialComm) against pmx31570a-sim on a "
                "pty\n\n");
    std::printf("Paced, %d bits/char: elapsed / wire time (goal <= 1.10)\n", kBitsPerChar);
    std::printf("  %-7s %6s %9s %9s %9s %7s %6s  %s\n", "proto", "baud", "chars", "elapsed", "wire",
                "ratio", "failed", "");
    for (const Proto& p : kProtocols) {
        for (int baud : {9600, 19200}) {
            test::SimProcess sim;
            SerialComm com;
            const int chars = startPaced(sim, com, p, baud);
            if (chars <= 0) {
                allMet = false;
                continue;
            }
            double perRead = chars;
            if (p.number == kProtocolModbusRtu)
                perRead += 3.5; // the silence that tells RTU frames apart
            const double wire = kItemCount * perRead * kBitsPerChar / baud;
            const Run run = readAll(com);
            const double ratio = run.seconds / wire;
            plainRatio.insert({p.number, baud}, ratio);
            const bool met = ratio <= 1.10 && run.result.failed.isEmpty() &&
                             run.result.good.size() == kItemCount;
            allMet = allMet && met;
            std::printf("  %-7s %6d %9d %8.3fs %8.3fs %7.3f %6lld  %s\n", p.simName, baud,
                        chars * kItemCount, run.seconds, wire, ratio,
                        qint64(run.result.failed.size()), met ? "met" : "NOT MET");
        }
    }

    if (!pacedOnly) {
        std::printf("\nSilent instrument, time-out %d ms: elapsed / (128 x time-out) (goal <= 1.05 "
                    "KORVAN, <= 2.05 Modbus)\n",
                    kSilentTimeoutMs);
        std::printf("  %-7s %9s %9s %7s %7s  %s\n", "proto", "elapsed", "128 x t/o", "ratio",
                    "message", "");
        for (const Proto& p : kProtocols) {
            test::SimProcess sim;
            SerialComm com;
            if (!startSim(sim, p, {"--silent"}) ||
                !openAt(com, p, sim.devicePath(), 9600, kSilentTimeoutMs)) {
                std::printf("  %-7s cannot start or open\n", p.simName);
                allMet = false;
                continue;
            }
            const Run run = readAll(com);
            const double floor = kItemCount * kSilentTimeoutMs / 1000.0;
            const double ratio = run.seconds / floor;
            const int expected = p.number == kProtocolKorvan ? 102 : 103;
            const bool allSilent = run.result.failed.size() == kItemCount &&
                                   run.result.failedMessage.count(expected) == kItemCount;
            const bool met = ratio <= (p.number == kProtocolKorvan ? 1.05 : 2.05) && allSilent;
            allMet = allMet && met;
            std::printf("  %-7s %8.3fs %8.3fs %7.3f %7s  %s\n", p.simName, run.seconds, floor,
                        ratio, allSilent ? qPrintable(QString::number(expected)) : "wrong",
                        met ? "met" : "NOT MET");
        }
        std::printf("\nLate instrument, every answer late, time-out %d ms: nothing stored or "
                    "good (goal: 0 wrong)\n",
                    kSilentTimeoutMs);
        std::printf("  %-7s %6s %9s %12s %6s %6s  %s\n", "proto", "late", "elapsed", "per item/t-o",
                    "good", "wrong", "");
        for (const int lateMs : {kSilentTimeoutMs * 3 / 2, kSilentTimeoutMs * 9 / 2})
            for (const Proto& p : kProtocols) {
                test::SimProcess sim;
                SerialComm com;
                QStringList faults;
                for (int i = 0; i < kItemCount; ++i)
                    faults << "--fault"
                           << QStringLiteral("%1=delay:%2")
                                  .arg(i, 4, 16, QLatin1Char('0'))
                                  .arg(lateMs);
                if (!startSim(sim, p, faults) ||
                    !openAt(com, p, sim.devicePath(), 9600, kSilentTimeoutMs)) {
                    std::printf("  %-7s cannot start or open\n", p.simName);
                    allMet = false;
                    continue;
                }
                ItemTable table;
                table.selections.fill(Selection::Selected);
                table.values.fill(-7); // no answer carries it
                BenchView view;
                TransferContext ctx{table, com, view};
                const auto t0 = Clock::now();
                const TransferResult result = readAllItems(ctx);
                const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
                int wrong = 0;
                for (int i = 0; i < kItemCount; ++i)
                    wrong += table.values[i] != -7;
                const bool met = wrong == 0 && result.good.isEmpty();
                allMet = allMet && met;
                std::printf("  %-7s %6d %8.3fs %12.2f %6lld %6d  %s\n", p.simName, lateMs, seconds,
                            seconds * 1000 / kItemCount / kSilentTimeoutMs,
                            qint64(result.good.size()), wrong, met ? "met" : "NOT MET");
            }
    }

    std::printf("\nPaced as above, the communication monitor open: elapsed / wire time (goal <= "
                "1.10); against the read without it\n");
    std::printf("  %-7s %6s %9s %9s %7s %9s %6s  %s\n", "proto", "baud", "elapsed", "wire", "ratio",
                "vs plain", "rows", "");
    for (const Proto& p : kProtocols) {
        for (int baud : {9600, 19200}) {
            test::SimProcess sim;
            SerialComm com;
            const int chars = startPaced(sim, com, p, baud);
            if (chars <= 0) {
                allMet = false;
                continue;
            }
            ExchangeLog log;
            MonitorWindow monitor(
                log, [](const ExchangeRecord& r) { return QString::number(r.attempts); }, {}, {});
            log.onChanged = [&] { monitor.logChanged(); };
            com.addExchangeObserver(&log);
            monitor.show();
            QCoreApplication::processEvents();
            double perRead = chars;
            if (p.number == kProtocolModbusRtu)
                perRead += 3.5;
            const double wire = kItemCount * perRead * kBitsPerChar / baud;
            const Run run = readAll(com);
            com.removeExchangeObserver(&log);
            monitor.refresh(); // the rows of the last refresh interval
            const double ratio = run.seconds / wire;
            const double plain = plainRatio.value({p.number, baud}, 0);
            const bool met = ratio <= 1.10 && run.result.good.size() == kItemCount &&
                             monitor.shownRows() == kItemCount;
            allMet = allMet && met;
            std::printf("  %-7s %6d %8.3fs %8.3fs %7.3f %9.3f %6d  %s\n", p.simName, baud,
                        run.seconds, wire, ratio, plain > 0 ? ratio / plain : 0.0,
                        monitor.shownRows(), met ? "met" : "NOT MET");
        }
    }

    std::printf("\nBlock reads (Modbus), paced, %d bits/char: elapsed / per-item read (goal <= "
                "0.20), elapsed / block wire time (goal <= 1.10), values identical\n",
                kBitsPerChar);
    std::printf("  %-7s %6s %9s %9s %9s %7s %7s %5s %9s  %s\n", "proto", "baud", "per-item",
                "block", "wire", "/item", "/wire", "reqs", "identical", "");
    for (const Proto& p : kProtocols) {
        if (p.number == kProtocolKorvan)
            continue; // one item per exchange
        for (int baud : {9600, 19200}) {
            test::SimProcess sim;
            SerialComm com;
            if (!startSim(
                    sim, p,
                    {"--baud", QString::number(baud), "--bits", QString::number(kBitsPerChar)}) ||
                !openAt(com, p, sim.devicePath(), baud, 1000)) {
                std::printf("  %-7s %6d cannot start or open\n", p.simName, baud);
                allMet = false;
                continue;
            }
            const Pair r = readBothWays(com, sim);
            // All 128 selected: one run of 125 registers and one of 3.
            const double wire =
                (blockChars(p.number, 125) + blockChars(p.number, 3)) * kBitsPerChar / baud;
            const double toItem = r.block.seconds / r.single.seconds;
            const double toWire = r.block.seconds / wire;
            const bool met = toItem <= 0.20 && toWire <= 1.10 && r.identical &&
                             r.block.result.good.size() == kItemCount;
            allMet = allMet && met;
            std::printf("  %-7s %6d %8.3fs %8.3fs %8.3fs %7.3f %7.3f %5d %9s  %s\n", p.simName,
                        baud, r.single.seconds, r.block.seconds, wire, toItem, toWire,
                        r.blockRequests, r.identical ? "yes" : "NO", met ? "met" : "NOT MET");
        }
    }
    std::printf("\nBlock reads, blocks spanning 0040h refused with exception 02, 19200 baud: "
                "the fallback (values identical)\n");
    std::printf("  %-7s %9s %9s %7s %5s %9s  %s\n", "proto", "per-item", "block", "/item", "reqs",
                "identical", "");
    for (const Proto& p : kProtocols) {
        if (p.number == kProtocolKorvan)
            continue;
        test::SimProcess sim;
        SerialComm com;
        if (!startSim(sim, p,
                      {"--baud", "19200", "--bits", QString::number(kBitsPerChar), "--refuse-span",
                       "0040"}) ||
            !openAt(com, p, sim.devicePath(), 19200, 1000)) {
            std::printf("  %-7s cannot start or open\n", p.simName);
            allMet = false;
            continue;
        }
        const Pair r = readBothWays(com, sim);
        const bool met = r.identical && r.block.result.good.size() == kItemCount;
        allMet = allMet && met;
        std::printf("  %-7s %8.3fs %8.3fs %7.3f %5d %9s  %s\n", p.simName, r.single.seconds,
                    r.block.seconds, r.block.seconds / r.single.seconds, r.blockRequests,
                    r.identical ? "yes" : "NO", met ? "met" : "NOT MET");
    }
    std::printf("\nUnpaced: elapsed on a pty and over loopback TCP (goal TCP / pty <= 1.5)\n");
    std::printf("  %-7s %9s %9s %7s %6s  %s\n", "proto", "pty", "tcp", "ratio", "failed", "");
    for (const Proto& p : kProtocols) {
        double seconds[2] = {0, 0};
        qsizetype failed = 0;
        bool opened = true;
        for (int tcp = 0; tcp < 2 && opened; ++tcp) {
            test::SimProcess sim;
            SerialComm com;
            opened = startSim(sim, p, tcp ? QStringList{"--tcp", "0"} : QStringList{}) &&
                     openAt(com, p, sim.devicePath(), 9600, 1000);
            if (!opened)
                break;
            readItem(com, "0000");
            const Run run = readAll(com);
            seconds[tcp] = run.seconds;
            failed += run.result.failed.size() + (kItemCount - run.result.good.size());
        }
        if (!opened) {
            std::printf("  %-7s cannot start or open\n", p.simName);
            allMet = false;
            continue;
        }
        const double ratio = seconds[1] / seconds[0];
        const bool met = ratio <= 1.5 && failed == 0;
        allMet = allMet && met;
        std::printf("  %-7s %8.4fs %8.4fs %7.3f %6lld  %s\n", p.simName, seconds[0], seconds[1],
                    ratio, qint64(failed), met ? "met" : "NOT MET");
    }
    if (!pacedOnly) {
        allMet = benchCompareAndWriteDifferences() && allMet;
        allMet = benchReadBeforeWrite() && allMet;
    }
    std::printf("\n%s\n", allMet ? "All goals met." : "Some goals NOT MET.");
    return allMet ? 0 : 1;
}
