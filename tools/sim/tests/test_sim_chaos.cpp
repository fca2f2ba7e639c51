// Chaos mode: the same seed does the same, every fault happens, and the instrument's own
// answer, when it is not dropped, reaches the line whole.
#include "SimChaos.h"
#include "SimFrames.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

using namespace pmx::sim;
using namespace pmx::sim::test;

TEST(SimChaos, ASeedReplaysAndEveryFaultHappens) {
    for (const Protocol p : {Protocol::Korvan, Protocol::ModbusAscii, Protocol::ModbusRtu}) {
        SCOPED_TRACE(protocolName(p).toStdString());
        const QByteArray own = p == Protocol::Korvan ? korvanResponse('\x06', "!  00101234")
                                                     : modbusFrame(p, "01030203E8");
        Chaos a(42, 100, p, 1), b(42, 100, p, 1);
        EXPECT_EQ(a.echoes(), b.echoes());
        for (int n = 0; n < 2000; ++n) {
            const std::vector<ChaosPiece> pieces = a.deliver(own);
            const std::vector<ChaosPiece> again = b.deliver(own);
            ASSERT_EQ(pieces.size(), again.size());
            QByteArray line;
            for (std::size_t k = 0; k < pieces.size(); ++k) {
                EXPECT_EQ(pieces[k].bytes, again[k].bytes);
                EXPECT_EQ(pieces[k].delayMs, again[k].delayMs);
                EXPECT_LE(pieces[k].delayMs, 10 * 100 + own.size() * 2);
                line += pieces[k].bytes;
            }
            if (pieces.empty())
                continue;
            // Whatever was added, the answer is there whole.
            EXPECT_TRUE(line.contains(own)) << line.toHex().toStdString();
        }
        const Chaos::Counts& c = a.counts();
        EXPECT_EQ(c.answers, 2000);
        for (const int kind :
             {c.clean, c.late, c.dropped, c.repeated, c.split, c.junk, c.otherInstrument})
            EXPECT_GT(kind, 20);
    }
}

TEST(SimChaos, AnotherInstrumentsAnswerIsWellFormedForItsOwnAddress) {
    EXPECT_EQ(Chaos::fromOtherInstrument(Protocol::ModbusRtu,
                                         modbusFrame(Protocol::ModbusRtu, "01030203E8"), 2),
              modbusFrame(Protocol::ModbusRtu, "02030203E8"));
    EXPECT_EQ(Chaos::fromOtherInstrument(Protocol::ModbusAscii,
                                         modbusFrame(Protocol::ModbusAscii, "01030203E8"), 2),
              modbusFrame(Protocol::ModbusAscii, "02030203E8"));
    EXPECT_EQ(
        Chaos::fromOtherInstrument(Protocol::Korvan, korvanResponse('\x06', "!  00101234"), 2),
        korvanResponse('\x06', "\"  00101234"));
}
