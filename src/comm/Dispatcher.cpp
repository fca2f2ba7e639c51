#include "comm/Dispatcher.h"

namespace pmx {

void Dispatcher::tick() {
    if (m_busy)
        return; // never a task inside another
    m_busy = true;
    bool toIdle = true;
    switch (CommTask) {
    case kTaskStopped:
        m_host.setMoveEnabled(false);
        toIdle = false;
        break;
    case kTaskApply:
        toIdle = m_host.applyStep();
        if (!toIdle)
            CommTask = kTaskStopped;
        break;
    case kTaskIdle:
        m_host.SelectDispItem();
        toIdle = false;
        break;
    case kTaskWriteChanged:
        if (m_host.checkWriteTicked())
            m_host.WriteItem();
        break;
    case kTaskWriteAll:
        m_host.WriteAllItems();
        break;
    case kTaskReadAll:
        m_host.ReadAllItems();
        break;
    default:
        // An unknown code cannot come from the program itself; treat it as idle.
        break;
    }
    if (toIdle)
        CommTask = kTaskIdle;
    m_busy = false;
}

} // namespace pmx
