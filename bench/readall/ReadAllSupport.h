#pragma once
// What the sections of bench_readall share: a view that lets events run, starting a paced
// instrument, the characters of one exchange, and a timed read of all items.
#include "BenchSupport.h"
#include "SimProcess.h"
#include "comm/SerialComm.h"
#include "transfer/Sequences.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace pmx::bench {

using Clock = std::chrono::steady_clock;

// The window's part, as the command line would do it: events still run between items.
class BenchView : public TransferView {
  public:
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override {}
    void showError(int, int) override {}
    void processEvents() override { QCoreApplication::processEvents(); }
    bool selectionBoxTicked(int) override { return true; }
};

// Characters one read of an item puts on the wire (request + response), taken from a
// real exchange: every item's read has the same length.
inline int charsPerRead(SerialComm& com) {
    if (!readItem(com, "0000"))
        return -1;
    return int(com.lastExchange().request.size() + com.lastExchange().received.size());
}

// Starts an instrument paced at `baud` and opens it; the characters one read puts on the
// wire, or 0 after saying on the table's line why it could not.
inline int startPaced(test::SimProcess& sim, SerialComm& com, const Proto& p, int baud) {
    if (!startSim(sim, p,
                  {"--baud", QString::number(baud), "--bits", QString::number(kBitsPerChar)}) ||
        !openAt(com, p, sim.devicePath(), baud, 1000)) {
        std::printf("  %-7s %6d cannot start or open\n", p.simName, baud);
        return 0;
    }
    const int chars = charsPerRead(com);
    if (chars <= 0)
        std::printf("  %-7s %6d the first read failed\n", p.simName, baud);
    return std::max(chars, 0);
}

struct Run {
    double seconds = 0;
    TransferResult result;
};

inline Run readAll(SerialComm& com, ItemTable* into = nullptr) {
    ItemTable table;
    table.selections.fill(Selection::Selected);
    BenchView view;
    TransferContext ctx{table, com, view};
    Run run;
    const auto t0 = Clock::now();
    run.result = readAllItems(ctx);
    run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (into)
        *into = table;
    return run;
}

} // namespace pmx::bench
