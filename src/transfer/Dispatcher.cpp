#include "transfer/Dispatcher.h"

namespace pmx {

void Dispatcher::tick() {
    if (m_busy)
        return; // never a task inside another
    m_busy = true;
    bool toIdle = true;
    switch (m_task) {
    case kTaskStopped:
        m_host.setTransferEnabled(false);
        toIdle = false;
        break;
    case kTaskApply:
        toIdle = m_host.applyStep();
        if (!toIdle)
            m_task = kTaskStopped;
        break;
    case kTaskIdle:
        m_host.refreshValues();
        toIdle = false;
        break;
    case kTaskWriteChanged:
        if (m_host.sendOnChangeTicked())
            m_host.writeChangedItem();
        break;
    case kTaskWriteAll:
        m_host.writeAllItems();
        break;
    case kTaskReadAll:
        m_host.readAllItems();
        break;
    case kTaskCompare:
        m_host.compareItems();
        break;
    case kTaskWriteDifferences:
        m_host.writeDifferences();
        break;
    case kTaskWatchLive:
        m_host.watchLiveItems();
        toIdle = m_task == kTaskWatchLive; // a transfer posted meanwhile runs next
        break;
    case kTaskFind:
        toIdle = m_host.findInstruments();
        if (!toIdle)
            m_task = kTaskStopped;
        break;
    default:
        // An unknown code cannot come from the program itself; treat it as idle.
        break;
    }
    if (toIdle)
        m_task = kTaskIdle;
    m_busy = false;
}

} // namespace pmx
