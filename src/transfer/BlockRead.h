#pragma once
#include "comm/CommObject.h"

#include <QList>
#include <QPair>
#include <functional>
#include <optional>

namespace pmx {

// Runs of consecutive selected addresses, each at most maxCount long: (first, count).
QList<QPair<int, int>> blockRuns(const std::function<bool(int)>& selected, int itemCount,
                                 int maxCount);

// Reads runs of consecutive Modbus registers with one function-03 request each. A run
// answered with an exception, a garbled frame or nothing is split in halves and tried
// again, down to single items, which are read exactly as a per-item read does, so every
// item ends with the outcome a per-item read would give it. The largest count the
// instrument accepted is remembered for the rest of the session, so an instrument that
// limits the count costs the split only once.
class BlockReader {
  public:
    // Reads one item as the per-item read does (a good read's values hold its value).
    using SingleRead = std::function<ExchangeResult(int item)>;
    // Called once per item as its outcome is known, with the value of a good one.
    using Outcome = std::function<void(int item, const ExchangeResult& result, qint16 value)>;
    // Whether to go on (the device is there, nobody asked to stop).
    using KeepGoing = std::function<bool()>;

    static constexpr int kMaxRegisters = 125; // what one function-03 request may ask

    BlockReader(CommObject& com, qint16 instrument, SingleRead single);

    void setMaxCount(int count);
    int maxCount() const { return m_max; }
    // The largest count taken below the smallest one refused with exception 03, once a
    // count has been refused (otherwise kMaxRegisters);
    // remembered by the communication object for as long as its port stays open.
    int learnedLimit() const;

    // Reads `count` registers from `first`; false when it stopped early.
    bool readRun(int first, int count, const Outcome& outcome, const KeepGoing& keepGoing);
    // Requests sent, for the figures.
    int requests() const { return m_requests; }

  private:
    // One block exchange: the values, or nullopt when the block was not answered usably
    // (*countRefused when the instrument refused the count itself).
    std::optional<QList<qint16>> readBlock(int first, int count, bool* countRefused);

    CommObject& m_com;
    qint16 m_instrument;
    SingleRead m_single;
    int m_max = kMaxRegisters;
    CommObject::BlockMemory& m_memory; // the port's, so it outlives one read
    int m_requests = 0;
};

} // namespace pmx
