// bench_readall, section 8: the cost of "read before write" (each item read just before
// it is written, so that its change record holds the instrument's old value), paced, k
// items written: elapsed with it / elapsed without it, beside the wire's own ratio
// (read + write) / write. Both writes record every item in a change log of their own.
#include "ReadBeforeWriteBench.h"

#include "ReadAllSupport.h"
#include "transfer/ChangeLog.h"

#include <QTemporaryDir>

namespace pmx::bench {

namespace {

// Writes `items` with values that differ from what the instrument holds; seconds taken.
double timedWrite(SerialComm& com, ChangeLog& log, const QList<int>& items, bool readFirst,
                  qint16 offset, bool* right) {
    ItemTable table;
    table.selections.fill(Selection::Selected);
    for (int i = 0; i < kItemCount; ++i)
        table.values[i] = qint16(100 * i - 1 + offset);
    BenchView view;
    TransferContext ctx{table, com, view, false, &log, readFirst};
    const auto t0 = Clock::now();
    const TransferResult w = writeListedItems(ctx, items);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    *right = *right && w.good.size() == items.size() && w.failed.isEmpty() && w.logError.isEmpty();
    return seconds;
}

} // namespace

bool benchReadBeforeWrite() {
    std::printf("\nRead before write, paced, %d bits/char, k items written: elapsed with / "
                "elapsed without (goal <= wire ratio x 1.10)\n",
                kBitsPerChar);
    std::printf("  %-7s %6s %3s %9s %9s %7s %7s  %s\n", "proto", "baud", "k", "without", "with",
                "ratio", "wire", "");
    bool allMet = true;
    for (const Proto& p : kProtocols) {
        for (int baud : {9600, 19200}) {
            test::SimProcess sim;
            SerialComm com;
            const int readChars = startPaced(sim, com, p, baud);
            if (readChars <= 0) {
                allMet = false;
                continue;
            }
            QTemporaryDir dir;
            ChangeLog log(dir.path());
            // A KORVAN write is 4 characters longer than its read both ways; Modbus 06 and
            // 03 of one register are as long as each other.
            const double writeChars = p.number == kProtocolKorvan ? readChars + 4 : readChars;
            const double wireRatio = (readChars + writeChars) / writeChars;
            for (int k : {8, 32}) {
                QList<int> items;
                for (int j = 0; j < k; ++j)
                    items << 1 + j * ((kItemCount - 1) / k);
                bool right = true;
                const double without = timedWrite(com, log, items, false, 1, &right);
                const double with = timedWrite(com, log, items, true, 2, &right);
                timedWrite(com, log, items, false, 0, &right); // the instrument as it was
                const double ratio = with / without;
                const bool met = right && ratio <= wireRatio * 1.10;
                allMet = allMet && met;
                std::printf("  %-7s %6d %3d %8.3fs %8.3fs %7.3f %7.3f  %s\n", p.simName, baud, k,
                            without, with, ratio, wireRatio,
                            met ? "met" : (right ? "NOT MET" : "NOT MET (wrong outcome)"));
            }
        }
    }
    return allMet;
}

} // namespace pmx::bench
