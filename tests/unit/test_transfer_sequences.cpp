// The tasks: the dispatcher that runs them, and the transfer sequences against a fake
// communication object that answers per item.
#include "FakeComm.h"
#include "RecordingView.h"
#include "TestPrinters.h"
#include "transfer/Dispatcher.h"
#include "transfer/Sequences.h"
#include <gtest/gtest.h>

using namespace pmx;

namespace {

struct Rig {
    explicit Rig(qint16 protocol) {
        Conditions c;
        c.protocol = ProtocolNumber(protocol);
        c.instrument = 1;
        com.setConditions(c);
    }
    ItemTable table;
    test::FakeComm com;
    test::RecordingView view;
    TransferContext ctx{table, com, view};
};

class Sequences : public ::testing::TestWithParam<test::ProtocolCase> {};

struct Host : DispatcherHost {
    bool applyOk = true;
    bool moveEnabled = true;
    QStringList calls;
    bool applyStep() override {
        calls << "apply";
        if (applyOk)
            moveEnabled = true;
        return applyOk;
    }
    void setTransferEnabled(bool on) override { moveEnabled = on; }
    void refreshValues() override { calls << "redraw"; }
    bool sendOnChangeTicked() override { return false; } // Check_write is tested end to end
    void writeChangedItem() override { calls << "writeItem"; }
    void writeAllItems() override { calls << "writeAll"; }
    void readAllItems() override { calls << "readAll"; }
};

} // namespace

TEST_P(Sequences, ReadStoresGoodValuesAndReportsFailures) {
    // Refusals and silence are tested end to end; here what the instrument there cannot do.
    Rig rig(GetParam().no);
    for (int i : {0, 3, 6, 127})
        rig.table.selections[i] = Selection::Selected;
    rig.table.selections[7] = Selection::Partial; // does not select
    rig.table.values[3] = 77;
    rig.com.values[3] = "12G4"; // a malformed data field
    rig.com.values[6] = "FFFF";
    const TransferResult r = readAllItems(rig.ctx);
    EXPECT_EQ(rig.com.log, (QStringList{"R 0000", "R 0003", "R 0006", "R 007F"}));
    EXPECT_EQ(rig.table.values[3], 77);
    EXPECT_EQ(rig.table.values[6], -1);
    EXPECT_EQ(rig.table.values[127], 1270);
    // A damaged answer: KORVAN's checksum message, never the Modbus-only one.
    const int damaged = GetParam().no == kProtocolKorvan ? 101 : 103;
    EXPECT_EQ(rig.view.errors, (QList<QPair<int, int>>{{damaged, 3}}));
    EXPECT_EQ(r.failed, QList<int>{3});
    EXPECT_EQ(rig.view.progress, 128);
    EXPECT_EQ(rig.view.events, 128);
}

TEST_P(Sequences, WriteItemOnlyForASelectedItem) {
    Rig rig(GetParam().no);
    rig.table.currentItem = 0;
    rig.table.values[0] = 255;
    writeChangedItem(rig.ctx);
    EXPECT_TRUE(rig.com.log.isEmpty());
    rig.table.selections[0] = Selection::Selected;
    writeChangedItem(rig.ctx);
    EXPECT_EQ(rig.com.log, QStringList{"W 0000 00FF"});
    EXPECT_EQ(rig.view.progress, -1); // no progress display for a single item
}

// The count is of the items the transfer sends, in its order; Stop leaves the rest unsent.
TEST_P(Sequences, WriteCountsTheItemsItSendsAndStopsBetweenThem) {
    Rig rig(GetParam().no);
    for (int i : {0, 2, 35, 68, 69, 100})
        rig.table.selections[i] = Selection::Selected;
    // The dialog's box is consulted for the five leading items only: 0023h is not sent,
    // 0045h is.
    rig.view.clearedBoxes = {35, 69};
    const TransferResult all = writeAllItems(rig.ctx);
    EXPECT_EQ(rig.view.items, (QStringList{"1/4 0044", "2/4 0002", "3/4 0045", "4/4 0064"}));
    EXPECT_EQ(all.good.size(), 4);

    Rig stopped(GetParam().no);
    stopped.table.selections = rig.table.selections;
    stopped.view.clearedBoxes = {35};
    stopped.view.stopAfterEvents = 3; // pressed while the exchange of 0002h went on
    const TransferResult r = writeAllItems(stopped.ctx);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(stopped.com.log, (QStringList{"W 0044 0000", "W 0002 0000"}));
    EXPECT_EQ(r.good, (QList<int>{68, 2}));
    EXPECT_EQ(summaryLine(r, true),
              "write: 4 items, 2 good, 0 failed, 2 not written (0045h, 0064h), stopped");
}

INSTANTIATE_TEST_SUITE_P(, Sequences, test::allProtocols(), ::testing::PrintToStringParamName());

TEST(Dispatcher, FailedApplyStopsCommunicationUntilTheNextApply) {
    Host host;
    Dispatcher d(host);
    host.applyOk = false;
    d.post(kTaskApply);
    d.tick();
    EXPECT_EQ(d.task(), kTaskStopped);
    host.moveEnabled = true;
    d.tick();
    d.tick();
    EXPECT_FALSE(host.moveEnabled); // every tick disables Read/Write again
    EXPECT_EQ(d.task(), kTaskStopped);
    host.applyOk = true;
    d.post(kTaskApply);
    d.tick();
    EXPECT_EQ(d.task(), kTaskIdle);
    d.tick();
    EXPECT_EQ(host.calls.value(host.calls.size() - 1), "redraw");
}

// Good is good and kept; every planned item is counted, and those never reached named.
TEST(TransferSummary, CountsWhatWasDoneAndNamesWhatWasNot) {
    TransferResult failed; // four failures, the last item never reached
    failed.planned = {1, 2, 3, 5, 16, 17, 18, 20};
    failed.good = {1, 2, 3};
    failed.failed = {5, 16, 17, 18};
    failed.failedMessage = {102, 100, 101, 103};
    failed.stopped = true;
    TransferResult notKept; // verify after writing read another value back
    notKept.planned = notKept.good = {1, 2, 3};
    notKept.mismatches = {{2, 5, 4}};
    TransferResult lost; // gone before the first item
    lost.planned = {0, 1, 2, 3, 4, 10, 68, 80};
    lost.lost = true;
    TransferResult one;
    one.planned = one.failed = {2};
    one.failedMessage = {102};
    const struct {
        const TransferResult& result;
        bool write;
        const char *window, *commandLine;
    } rows[] = {
        {failed, false,
         "Read: 3 of 8 items good; 4 failed: 0005h no answer, 0010h refused, 0011h checksum "
         "error, \u2026; 1 not read: 0014h; stopped",
         "read: 8 items, 3 good, 4 failed, 1 not read (0014h), stopped"},
        {notKept, true, "Write: 2 of 3 items good; 1 not kept",
         "write: 3 items, 2 good, 0 failed, 1 not kept"},
        {lost, true,
         "Write: 0 of 8 items good; 8 not written: 0000h-0004h, 000Ah, 0044h, \u2026; device lost",
         "write: 8 items, 0 good, 0 failed, 8 not written (0000h-0004h, 000Ah, 0044h, 0050h), "
         "device lost"},
        {one, true, "Write: 0 of 1 items good; 1 failed: 0002h no answer",
         "write: 1 item, 0 good, 1 failed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.commandLine);
        EXPECT_EQ(transferSummary(row.result, row.write, int(row.result.planned.size())),
                  QString::fromUtf8(row.window));
        EXPECT_EQ(summaryLine(row.result, row.write), QLatin1String(row.commandLine));
    }
}
