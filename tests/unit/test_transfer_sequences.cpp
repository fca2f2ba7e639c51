// The tasks: the dispatcher that runs them, and the transfer sequences against a fake
// communication object that answers per item.
#include "FakeComm.h"
#include "comm/Dispatcher.h"
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
    explicit Rig(qint16 protocol) { com.ProtocolNo = protocol; }
    ItemTable table;
    test::FakeComm com;
    FakeView view;
    qint16 instNo = 1;
    TransferContext ctx{table, com, instNo, view};
};

class Sequences : public ::testing::TestWithParam<qint16> {};

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
    void setMoveEnabled(bool on) override { moveEnabled = on; }
    void SelectDispItem() override { calls << "redraw"; }
    bool checkWriteTicked() override { return false; } // Check_write is tested end to end
    void WriteItem() override { calls << "writeItem"; }
    void WriteAllItems() override {
        calls << "writeAll";
        if (duringTask)
            duringTask();
    }
    void ReadAllItems() override {
        calls << "readAll";
        if (duringTask)
            duringTask();
    }
};
} // namespace

TEST_P(Sequences, LeadingItemNeedsTheDialogBoxToo) {
    Rig rig(GetParam());
    rig.table.ItemSel[68] = 1;
    rig.table.ItemSel[69] = 1;
    rig.view.clearedBoxes = {68, 69};
    WriteAllItems(rig.ctx);
    // The box is consulted for the five leading items only.
    EXPECT_EQ(rig.com.log, QStringList{"W 0045 0000"});
}

TEST_P(Sequences, ReadStoresGoodValuesAndReportsFailures) {
    // Refusals and silence are tested end to end; here what the instrument there cannot do.
    Rig rig(GetParam());
    for (int i : {0, 3, 6, 127})
        rig.table.ItemSel[i] = 1;
    rig.table.ItemSel[7] = 2; // only 1 selects
    rig.table.ItemData[3] = 77;
    rig.com.values[3] = "12G4"; // a malformed data field
    rig.com.values[6] = "FFFF";
    const TransferResult r = ReadAllItems(rig.ctx);
    EXPECT_EQ(rig.com.log, (QStringList{"R 0000", "R 0003", "R 0006", "R 007F"}));
    EXPECT_EQ(rig.table.ItemData[3], 77);
    EXPECT_EQ(rig.table.ItemData[6], -1);
    EXPECT_EQ(rig.table.ItemData[127], 1270);
    EXPECT_EQ(rig.view.errors, (QList<QPair<int, int>>{{103, 3}}));
    EXPECT_EQ(r.failed, QList<int>{3});
    EXPECT_EQ(rig.view.progress, 128);
    EXPECT_EQ(rig.view.events, 128);
}

TEST_P(Sequences, WriteItemOnlyForASelectedItem) {
    Rig rig(GetParam());
    rig.table.CurItem = 0;
    rig.table.ItemData[0] = 255;
    WriteItem(rig.ctx);
    EXPECT_TRUE(rig.com.log.isEmpty());
    rig.table.ItemSel[0] = 1;
    WriteItem(rig.ctx);
    EXPECT_EQ(rig.com.log, QStringList{"W 0000 00FF"});
    EXPECT_EQ(rig.view.progress, -1); // no progress display for a single item
}

TEST_P(Sequences, EndingTheProgramStopsATransferAtOnce) {
    Rig rig(GetParam());
    rig.table.ItemSel.fill(1);
    rig.view.stopAfterEvents = 3; // the close question answered Yes while item 3 waits
    const TransferResult r = ReadAllItems(rig.ctx);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(rig.com.log, (QStringList{"R 0000", "R 0001", "R 0002"}));
}

INSTANTIATE_TEST_SUITE_P(AllProtocols, Sequences,
                         ::testing::Values(qint16(kProtocolKorvan), qint16(kProtocolModbusAscii),
                                           qint16(kProtocolModbusRtu)));

TEST(Dispatcher, FailedApplyStopsCommunicationUntilTheNextApply) {
    Host host;
    Dispatcher d(host);
    host.applyOk = false;
    d.CommTask = kTaskApply;
    d.tick();
    EXPECT_EQ(d.CommTask, kTaskStopped);
    host.moveEnabled = true;
    d.tick();
    d.tick();
    EXPECT_FALSE(host.moveEnabled); // every tick disables Read/Write again
    EXPECT_EQ(d.CommTask, kTaskStopped);
    host.applyOk = true;
    d.CommTask = kTaskApply;
    d.tick();
    EXPECT_EQ(d.CommTask, kTaskIdle);
    d.tick();
    EXPECT_EQ(host.calls.last(), "redraw");
}

TEST(Dispatcher, RequestPostedDuringATaskIsDroppedAndNoTaskNests) {
    Host host;
    Dispatcher d(host);
    d.CommTask = kTaskWriteAll;
    host.duringTask = [&] {
        d.CommTask = kTaskReadAll; // a Read confirmed while the write runs
        d.tick();                  // a tick falling due inside the task's event processing
    };
    d.tick();
    EXPECT_EQ(host.calls, QStringList{"writeAll"});
    EXPECT_EQ(d.CommTask, kTaskIdle);
    d.tick();
    EXPECT_EQ(host.calls, (QStringList{"writeAll", "redraw"}));
}
