// Verify after writing with the real serial object against the virtual instrument: the
// read-back of a value the instrument did not keep is a verify mismatch in the monitor.
#include "SimProcess.h"
#include "TestPrinters.h"
#include "comm/SerialComm.h"
#include "text/StringTable.h"
#include "transfer/Sequences.h"
#include "ui/MonitorWindow.h"

#include <gtest/gtest.h>

using namespace pmx;

namespace {

class QuietView : public TransferView {
  public:
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override {}
    void showError(int, int) override {}
    void processEvents() override {}
    bool selectionBoxTicked(int) override { return true; }
};

class VerifyMonitor : public ::testing::TestWithParam<test::ProtocolCase> {};

} // namespace

TEST_P(VerifyMonitor, TheReadBackThatDiffersIsMarkedAndListedAmongTheFailures) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.start(
        {"--protocol", GetParam().name, "--instrument", "3", "--fault", "0023=clamp:0:1000"}))
        << sim.errorText().toStdString();
    SerialComm com;
    com.setConditions({.protocol = ProtocolNumber(GetParam().no),
                       .instrument = 3,
                       .rate = 9600,
                       .dataBits = 7,
                       .stopBits = 1,
                       .parity = Parity::Even,
                       .port = sim.devicePath(),
                       .timeoutMs = 1000});
    ASSERT_TRUE(com.openPort());
    ExchangeLog log;
    MonitorWindow monitor(log, {}, {}, {});
    log.onChanged = [&monitor] { monitor.refresh(); };
    monitor.setFailuresOnly(true);
    com.addExchangeObserver(&log);

    ItemTable table;
    table.selections[0x22] = table.selections[0x23] = Selection::Selected;
    table.values[0x22] = 900;  // kept
    table.values[0x23] = 1500; // clamped to 1000
    QuietView view;
    TransferContext ctx{table, com, view, true};
    const TransferResult r = writeAllItems(ctx);
    com.removeExchangeObserver(&log);

    EXPECT_EQ(r.mismatches, (QList<ReadBackMismatch>{{0x23, 1500, 1000}}));
    // Write and read-back of each item; 0023h is one of the items written first.
    ASSERT_EQ(log.size(), 4);
    const ExchangeOutcome expected[] = {ExchangeOutcome::Good, ExchangeOutcome::VerifyMismatch,
                                        ExchangeOutcome::Good, ExchangeOutcome::Good};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(log.at(k).outcome, expected[k]) << k;
    EXPECT_EQ(std::tuple(log.counters().good, log.counters().verifyMismatch), std::tuple(3, 1));
    ASSERT_EQ(monitor.shownRows(), 1);
    strings::setLanguage(strings::Lang::English);
    EXPECT_EQ(outcomeText(*monitor.model()->record(1)), "verify mismatch: wrote 1500, holds 1000");
}

INSTANTIATE_TEST_SUITE_P(, VerifyMonitor, test::allProtocols(),
                         ::testing::PrintToStringParamName());
