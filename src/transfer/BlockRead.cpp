#include "transfer/BlockRead.h"

#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "model/ItemTable.h"

#include <algorithm>

namespace pmx {

static_assert(CommObject::BlockMemory{}.smallestRefused == BlockReader::kMaxRegisters + 1,
              "nothing is known refused before the first block");

QList<QPair<int, int>> blockRuns(const std::function<bool(int)>& selected, int itemCount,
                                 int maxCount) {
    QList<QPair<int, int>> runs;
    maxCount = std::clamp(maxCount, 1, BlockReader::kMaxRegisters);
    int i = 0;
    while (i < itemCount) {
        if (!selected(i)) {
            ++i;
            continue;
        }
        int count = 0;
        while (i + count < itemCount && count < maxCount && selected(i + count))
            ++count;
        runs.append({i, count});
        i += count;
    }
    return runs;
}

BlockReader::BlockReader(CommObject& com, qint16 instrument, SingleRead single)
    : m_com(com), m_instrument(instrument), m_single(std::move(single)),
      m_memory(com.blockMemory()) {}

void BlockReader::setMaxCount(int count) {
    m_max = std::clamp(count, 1, kMaxRegisters);
}

int BlockReader::learnedLimit() const {
    // Every count up to some limit taken and every larger one refused: an instrument that
    // limits the count (not one that refuses certain spans), so keep to what it takes.
    // Known only once a count was refused; a short run taken before says nothing of it.
    const CommObject::BlockMemory& m = m_memory;
    const bool limited = m.smallestRefused <= kMaxRegisters &&
                         m.smallestRefused > m.largestAccepted && m.largestAccepted > 1;
    return limited ? m.largestAccepted : kMaxRegisters;
}

std::optional<QList<qint16>> BlockReader::readBlock(int first, int count, bool* countRefused) {
    *countRefused = false;
    const Request request = Request::read(m_instrument, itemAddressText(first).toLatin1(), count);
    ++m_requests;
    // The same line rules as a single read.
    const ExchangeResult result = sendItemCommand(m_com, request);
    if (!result.good()) {
        const Codec* codec = m_com.codec();
        *countRefused =
            result.outcome == ExchangeOutcome::Refused && codec && codec->refusesCount(result.text);
        return std::nullopt;
    }
    return result.values;
}

bool BlockReader::readRun(int first, int count, const Outcome& outcome,
                          const KeepGoing& keepGoing) {
    // Longer runs than the instrument has taken are cut up front instead of refused again.
    const int limit = std::min(m_max, learnedLimit());
    if (count > limit) {
        for (int at = first; at < first + count; at += limit)
            if (!readRun(at, std::min(limit, first + count - at), outcome, keepGoing))
                return false;
        return true;
    }
    if (!keepGoing())
        return false;
    if (count == 1) {
        const ExchangeResult result = m_single(first);
        outcome(first, result, result.values.value(0));
        return true;
    }
    bool countRefused = false;
    if (const auto values = readBlock(first, count, &countRefused)) {
        m_memory.largestAccepted = std::max(m_memory.largestAccepted, count);
        ExchangeResult good;
        good.outcome = ExchangeOutcome::Good;
        for (int k = 0; k < count; ++k)
            outcome(first + k, good, values->at(k));
        return true;
    }
    if (m_com.deviceLost())
        return false;
    if (countRefused)
        m_memory.smallestRefused = std::min(m_memory.smallestRefused, count);
    const int firstHalf = count / 2;
    return readRun(first, firstHalf, outcome, keepGoing) &&
           readRun(first + firstHalf, count - firstHalf, outcome, keepGoing);
}

} // namespace pmx
