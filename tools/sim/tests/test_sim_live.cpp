// Items that move by themselves: what --live accepts, and that the value stays within the
// amplitude around its start, repeats with the period and never leaves 16 bits.
#include "SimLive.h"
#include "SimOptions.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace pmx::sim;

TEST(SimLive, OptionTakesItemShapePeriodAndAmplitude) {
    const ParseResult good =
        parseArguments({QStringLiteral("--live"), QStringLiteral("0001:sine:20:500"),
                        QStringLiteral("--live"), QStringLiteral("007F:ramp:0.5:1")});
    ASSERT_TRUE(good.error.isEmpty()) << good.error.toStdString();
    ASSERT_EQ(good.config.live.size(), 2u);
    EXPECT_EQ(good.config.live[0].item, 1);
    EXPECT_EQ(good.config.live[1].shape, LiveMotion::Shape::Ramp);
    for (const char* bad :
         {"0080:sine:20:5", "1:sine:20:5", "0001:square:20:5", "0001:sine:0:5", "0001:sine:20:0",
          "0001:sine:20", "0001:sine:x:5", "0001:sine:20:40000"}) {
        const ParseResult r = parseArguments({QStringLiteral("--live"), QString::fromLatin1(bad)});
        EXPECT_TRUE(r.error.startsWith(QStringLiteral("--live "))) << bad;
    }
}

TEST(SimLive, ValuesStayAroundTheCentreAndRepeat) {
    QRandomGenerator rng(31570);
    for (int round = 0; round < 500; ++round) {
        LiveMotion m;
        m.shape = rng.bounded(2) ? LiveMotion::Shape::Sine : LiveMotion::Shape::Ramp;
        m.periodSeconds = 0.1 + rng.bounded(1000.0);
        m.amplitude = 1 + int(rng.bounded(32767));
        const auto centre = std::int16_t(int(rng.bounded(65536)) - 32768);
        const double t = rng.bounded(100000.0);
        const int v = liveValue(m, centre, t);
        EXPECT_LE(std::abs(v - centre), m.amplitude + 1);
        EXPECT_TRUE(v >= -32768 && v <= 32767);
        // One period later the value is the same, up to rounding of the phase.
        EXPECT_LE(std::abs(liveValue(m, centre, t + m.periodSeconds) - v), 1 + m.amplitude / 1000)
            << t;
    }
    const LiveMotion sine{0, LiveMotion::Shape::Sine, 4, 100};
    EXPECT_EQ(liveValue(sine, 1000, 0), 1000);
    EXPECT_EQ(liveValue(sine, 1000, 1), 1100);
    EXPECT_EQ(liveValue(sine, 1000, 3), 900);
}
