#pragma once
#include <QtGlobal>

namespace pmx {

// Task codes of CommTask.
enum CommTaskCode : qint16 {
    kTaskStopped = 0,
    kTaskApply = 1,
    kTaskIdle = 2,
    kTaskWriteChanged = 3,
    kTaskWriteAll = 4,
    kTaskReadAll = 5,
};

// What the dispatcher calls out to; the main window implements it.
class DispatcherHost {
public:
    virtual ~DispatcherHost() = default;
    virtual bool applyStep() = 0; // false: communication stops (CommTask 0)
    virtual void setMoveEnabled(bool on) = 0;
    virtual void SelectDispItem() = 0;
    virtual bool checkWriteTicked() = 0;
    virtual void WriteItem() = 0;
    virtual void WriteAllItems() = 0;
    virtual void ReadAllItems() = 0;
};

// The communication task dispatcher: the only place communication work starts.
// A task runs to its end inside one tick; a tick that falls due while a task runs
// (during its event processing) does nothing, and a code posted meanwhile is
// overwritten with idle when the task ends.
class Dispatcher {
public:
    explicit Dispatcher(DispatcherHost& host) : m_host(host) {}

    qint16 CommTask = kTaskStopped;

    void tick();
    bool busy() const { return m_busy; }

private:
    DispatcherHost& m_host;
    bool m_busy = false;
};

} // namespace pmx
