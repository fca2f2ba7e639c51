// The tasks: the dispatcher that runs them, and the transfer sequences against a fake
// communication object that answers per item.
#include "FakeComm.h"
#include "TestPrinters.h"
#include "transfer/Dispatcher.h"
#include "transfer/Sequences.h"
#include <QMap>
#include <functional>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

class FakeView : public TransferView {
  public:
    void progressStart() override { progress = 0; }
    void progressStep() override { ++progress; }
    void progressEnd() override {} // the progress bar is checked end to end
    void showError(int id, int item) override { errors << qMakePair(id, item); }
    void processEvents() override { ++events; }
    bool selectionBoxTicked(int item) override { return !clearedBoxes.contains(item); }
    bool stopRequested() override { return stopAfterEvents >= 0 && events > stopAfterEvents; }
    int stopAfterEvents = -1;
    int progress = -1;
    int events = 0;
    QList<QPair<int, int>> errors;
    QList<int> clearedBoxes;
};

struct Rig {
    explicit Rig(qint16 protocol) {
        Conditions c;
        c.protocol = ProtocolNumber(protocol);
        c.instrument = 1;
        com.setConditions(c);
    }
    ItemTable table;
    test::FakeComm com;
    FakeView view;
    TransferContext ctx{table, com, view};
};

class Sequences : public ::testing::TestWithParam<test::ProtocolCase> {};

struct Host : DispatcherHost {
    bool applyOk = true;
    bool moveEnabled = true;
    QStringList calls;
    std::function<void()> duringTask; // stands for the events a task lets run
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
    void writeAllItems() override {
        calls << "writeAll";
        if (duringTask)
            duringTask();
    }
    void readAllItems() override {
        calls << "readAll";
        if (duringTask)
            duringTask();
    }
};
} // namespace

TEST_P(Sequences, LeadingItemNeedsTheDialogBoxToo) {
    Rig rig(GetParam().no);
    rig.table.selections[68] = rig.table.selections[69] = Selection::Selected;
    rig.view.clearedBoxes = {68, 69};
    writeAllItems(rig.ctx);
    // The box is consulted for the five leading items only.
    EXPECT_EQ(rig.com.log, QStringList{"W 0045 0000"});
}

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
    EXPECT_EQ(rig.view.errors, (QList<QPair<int, int>>{{103, 3}}));
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

TEST_P(Sequences, EndingTheProgramStopsATransferAtOnce) {
    Rig rig(GetParam().no);
    rig.table.selections.fill(Selection::Selected);
    rig.view.stopAfterEvents = 3; // the close question answered Yes while item 3 waits
    const TransferResult r = readAllItems(rig.ctx);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(rig.com.log, (QStringList{"R 0000", "R 0001", "R 0002"}));
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
    EXPECT_EQ(host.calls.last(), "redraw");
}

TEST(Dispatcher, RequestPostedDuringATaskIsDroppedAndNoTaskNests) {
    Host host;
    Dispatcher d(host);
    d.post(kTaskWriteAll);
    host.duringTask = [&] {
        d.post(kTaskReadAll); // a Read confirmed while the write runs
        d.tick();             // a tick falling due inside the task's event processing
    };
    d.tick();
    EXPECT_EQ(host.calls, QStringList{"writeAll"});
    EXPECT_EQ(d.task(), kTaskIdle);
    d.tick();
    EXPECT_EQ(host.calls, (QStringList{"writeAll", "redraw"}));
}
