// bench_readall, section 7: compare with the instrument and write only the differences
// (the command line's compare and write --only-changed [--verify]), paced, all 128 items
// selected and k of them differing. Wire time: one read of every selected item, plus for
// the write of the differences k writes, plus with verify one read per written item.
#include "CompareBench.h"

#include "ReadAllSupport.h"
#include "transfer/Compare.h"

namespace pmx::bench {

namespace {

// Characters one write puts on the wire, from a real write of 0001h's default value
// (100 * 1 - 1), which leaves the instrument as it was.
int charsPerWrite(SerialComm& com) {
    const Request write = Request::write(1, "0001", "0063");
    if (!sendItemCommand(com, write).good())
        return -1;
    return int(com.lastExchange().request.size() + com.lastExchange().received.size());
}

// k items spread over the selected ones, never 0000h (the write of all items skips it).
QList<int> spread(int k) {
    QList<int> items;
    for (int j = 0; j < k; ++j)
        items << 1 + j * ((kItemCount - 1) / k);
    return items;
}

struct Row {
    const char* what;
    int k;
    bool write;
    bool verify;
};

constexpr Row kRows[] = {{"compare", 0, false, false},   {"write-diff", 0, true, false},
                         {"write-diff", 8, true, false}, {"write-diff", 32, true, false},
                         {"+verify", 8, true, true},     {"+verify", 32, true, true}};

// One row: the table is what the instrument holds with k items changed; on return the
// instrument holds the table. True when the outcome is right (counts, no failures).
bool runRow(SerialComm& com, ItemTable& known, const Row& row, double* seconds, int* exchanges) {
    ItemTable table = known;
    for (int i : spread(row.k))
        table.values[i] = qint16(table.values[i] + 1);
    BenchView view;
    TransferContext ctx{table, com, view, row.verify};
    const auto t0 = Clock::now();
    const Comparison cmp = compareWithInstrument(ctx);
    TransferResult written;
    if (row.write)
        written = writeListedItems(ctx, cmp.differing());
    *seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    *exchanges = int(cmp.read.good.size() + written.good.size() * (row.verify ? 2 : 1));
    const bool right = cmp.read.good.size() == kItemCount && cmp.read.failed.isEmpty() &&
                       cmp.count(ItemComparison::Outcome::Unreadable) == 0 &&
                       cmp.differing() == spread(row.k) && written.failed.isEmpty() &&
                       written.good.size() == (row.write ? row.k : 0) &&
                       written.mismatches.isEmpty();
    if (row.write)
        known = table;
    return right;
}

} // namespace

bool benchCompareAndWriteDifferences() {
    std::printf("\nCompare and write the differences, paced, %d bits/char, all %d items selected, "
                "k differing: elapsed / wire time (goal <= 1.10)\n",
                kBitsPerChar, kItemCount);
    std::printf("  %-7s %6s %-10s %3s %6s %9s %9s %7s  %s\n", "proto", "baud", "what", "k", "exch",
                "elapsed", "wire", "ratio", "");
    bool allMet = true;
    for (const Proto& p : kProtocols) {
        for (int baud : {9600, 19200}) {
            test::SimProcess sim;
            SerialComm com;
            const int readChars = startPaced(sim, com, p, baud);
            const int writeChars = readChars > 0 ? charsPerWrite(com) : -1;
            if (readChars <= 0 || writeChars <= 0) {
                allMet = false;
                continue;
            }
            // RTU keeps a silence of 3.5 characters before every request.
            const double silence = p.number == kProtocolModbusRtu ? 3.5 : 0;
            const double read = (readChars + silence) * kBitsPerChar / baud;
            const double write = (writeChars + silence) * kBitsPerChar / baud;
            ItemTable known; // the instrument's default memory
            known.selections.fill(Selection::Selected);
            for (int i = 0; i < kItemCount; ++i)
                known.values[i] = qint16(100 * i - 1);
            for (const Row& row : kRows) {
                double seconds = 0;
                int exchanges = 0;
                const bool right = runRow(com, known, row, &seconds, &exchanges);
                const double wire = kItemCount * read + row.k * (row.write ? write : 0) +
                                    row.k * (row.verify ? read : 0);
                const double ratio = seconds / wire;
                const bool met = right && ratio <= 1.10;
                allMet = allMet && met;
                std::printf("  %-7s %6d %-10s %3d %6d %8.3fs %8.3fs %7.3f  %s\n", p.simName, baud,
                            row.what, row.k, exchanges, seconds, wire, ratio,
                            met ? "met" : (right ? "NOT MET" : "NOT MET (wrong outcome)"));
            }
        }
    }
    return allMet;
}

} // namespace pmx::bench
