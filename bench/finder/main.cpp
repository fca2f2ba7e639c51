// bench_finder: the instrument search with the real serial object against the virtual
// instrument on a pty, at the default answer wait.
//
//   1. One protocol's line settings at one instrument number on one port, the instrument
//      silent (every try waits its whole time-out): elapsed time against the budget of
//      10 s (goal < 1.0), and the stated worst case for a real line, which adds each
//      request's own wire time that a pty does not take, against the same budget.
//   2. The instrument at the last line setting of the order: tries and elapsed time
//      until it is found, against section 1's full scan. A pty tells only rate and stop
//      bits apart, and the virtual instrument garbles its answers at the right rate with
//      other stop bits, so this shows how far a garbled answer moves the right rate up.
//   3. The stated worst cases of larger searches: every protocol at one instrument
//      number, and every instrument number.
#include "BenchSupport.h"
#include "SimProcess.h"
#include "comm/SerialComm.h"
#include "transfer/Finder.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

using namespace pmx;
using namespace pmx::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kBudgetS = 10.0;

class QuietView : public FinderView {
  public:
    void tryStarting(int, int, const ProbeTarget&) override {}
    void found(const FoundInstrument&) override {}
    void processEvents() override { QCoreApplication::processEvents(); }
    bool stopRequested() override { return false; }
};

FinderOptions oneProtocol(const Proto& p, const QString& device) {
    FinderOptions o;
    o.ports = {device};
    o.protocols = {p.number};
    o.inEffect.protocol = p.number;
    o.instruments = {1};
    return o;
}

struct Run {
    double seconds = 0;
    FinderResult result;
};

Run search(const FinderOptions& o) {
    SerialComm com;
    FinderPlan plan(o);
    QuietView view;
    const auto t0 = Clock::now();
    Run r;
    r.result = runFinder(com, plan, view);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return r;
}

// The sim's --line for a line setting: "2400-8O2".
QString simLine(const LineSetting& l) {
    return lineSettingText(l).replace(QLatin1Char(' '), QLatin1Char('-'));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bool allMet = true;
    double fullScan[3] = {};

    std::printf("1. One protocol's line settings, instrument 1, one port, nobody answering "
                "(answer wait %d ms)\n",
                kDefaultAnswerWaitMs);
    std::printf("   elapsed / %.0f s budget (goal < 1.0); stated worst case on a real line / "
                "budget (goal < 1.0)\n",
                kBudgetS);
    for (std::size_t k = 0; k < std::size(kProtocols); ++k) {
        const Proto& p = kProtocols[k];
        test::SimProcess sim;
        if (!startSim(sim, p, {"--silent"})) {
            allMet = false;
            continue;
        }
        const FinderOptions o = oneProtocol(p, sim.devicePath());
        const double stated = double(FinderPlan(o).worstCaseMs()) / 1000.0;
        const Run r = search(o);
        fullScan[k] = r.seconds;
        const bool met = r.seconds < kBudgetS && stated < kBudgetS && r.result.found.isEmpty();
        allMet = allMet && met;
        std::printf("  %-7s %2d tries  elapsed %.2f s (%.0f ms a try)  ratio %.2f   stated "
                    "%.2f s  ratio %.2f  %s\n",
                    p.simName, r.result.tries, r.seconds, 1000.0 * r.seconds / r.result.tries,
                    r.seconds / kBudgetS, stated, stated / kBudgetS, met ? "met" : "NOT MET");
    }

    std::printf("\n2. The instrument at the last line setting of the order: found after\n");
    for (std::size_t k = 0; k < std::size(kProtocols); ++k) {
        const Proto& p = kProtocols[k];
        const LineSetting last = lineSettingsFor(p.number).last();
        test::SimProcess sim;
        if (!startSim(sim, p, {"--line", simLine(last)})) {
            allMet = false;
            continue;
        }
        const Run r = search(oneProtocol(p, sim.devicePath()));
        const bool met = r.result.found.size() == 1 &&
                         r.result.found.first().target.line.rate == last.rate &&
                         r.result.found.first().target.line.stopBits == last.stopBits;
        allMet = allMet && met;
        std::printf("  %-7s at %s: %2d tries, %.2f s, against the full scan %.2f  %s\n", p.simName,
                    qPrintable(simLine(last)), r.result.tries, r.seconds,
                    fullScan[k] > 0 ? r.seconds / fullScan[k] : 0.0, met ? "met" : "NOT MET");
    }

    std::printf("\n3. Stated worst cases on one port (nobody answering)\n");
    FinderOptions every;
    every.ports = {QStringLiteral("/dev/ttyUSB0")};
    const FinderPlan three(every);
    every.allInstruments = true;
    const FinderPlan all(every);
    std::printf("  every protocol, the instrument in effect: %d tries, %s\n", three.total(),
                qPrintable(durationText(three.worstCaseMs())));
    std::printf("  every protocol and instrument number:     %d tries, %s\n", all.total(),
                qPrintable(durationText(all.worstCaseMs())));
    return allMet ? 0 : 1;
}
