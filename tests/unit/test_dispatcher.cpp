#include "comm/Dispatcher.h"
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

using namespace pmx;

namespace {
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
