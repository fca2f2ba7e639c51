#pragma once
#include <QtGlobal>

namespace pmx {

// The tasks of the dispatcher, by their codes.
enum Task : qint16 {
    kTaskStopped = 0, // communication stopped until the next apply
    kTaskApply = 1,   // apply the stored conditions and open the port
    kTaskIdle = 2,    // redraw the values
    kTaskWriteChanged = 3,
    kTaskWriteAll = 4,
    kTaskReadAll = 5,
    kTaskCompare = 6,          // read the selected items into a copy and compare
    kTaskWriteDifferences = 7, // write the differing items of the last comparison
    kTaskFind = 8,             // search for instruments, then apply the conditions again
    kTaskWatchLive = 9,        // read the watched live items once
};

// What the dispatcher calls out to; the main window implements it.
class DispatcherHost {
  public:
    virtual ~DispatcherHost() = default;
    virtual bool applyStep() = 0; // false: communication stops (kTaskStopped)
    virtual void setTransferEnabled(bool on) = 0;
    virtual void refreshValues() = 0;
    virtual bool sendOnChangeTicked() = 0;
    virtual void writeChangedItem() = 0;
    virtual void writeAllItems() = 0;
    virtual void readAllItems() = 0;
    virtual void compareItems() {}
    virtual void writeDifferences() {}
    // The search; returns what applying the conditions afterwards came to (false:
    // communication stops, as after a failed apply).
    virtual bool findInstruments() { return true; }
    virtual void watchLiveItems() {}
};

// The communication task dispatcher: the only place communication work starts.
// A task runs to its end inside one tick; a tick that falls due while a task runs
// (during its event processing) does nothing, and a task posted meanwhile is
// overwritten with idle when the task ends.
class Dispatcher {
  public:
    explicit Dispatcher(DispatcherHost& host) : m_host(host) {}

    // The task the next tick runs.
    Task task() const { return m_task; }
    void post(Task task) { m_task = task; }

    void tick();
    bool busy() const { return m_busy; }

  private:
    DispatcherHost& m_host;
    Task m_task = kTaskStopped;
    bool m_busy = false;
};

} // namespace pmx
