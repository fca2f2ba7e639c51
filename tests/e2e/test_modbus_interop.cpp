// The command-line program against a Modbus server that is not the project's own (the
// pymodbus library, tests/interop/modbus_server.py), on a pseudo-terminal pair: the
// framing, addressing and exception handling of both Modbus protocols as an independent
// implementation reads them. Register i holds 3 * i + 7; registers from 100 on are
// missing (exception 02), as on an instrument with fewer items.
#include "CliRunner.h"
#include "TestPrinters.h"
#include "model/TableFile.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

constexpr int kRegisters = 100;
constexpr int kUnit = 4;

class ModbusInterop : public ::testing::TestWithParam<test::ProtocolCase> {
  protected:
    void SetUp() override {
        m_ours = m_dir.filePath("ours");
        m_theirs = m_dir.filePath("theirs");
        m_socat.start(QStringLiteral("socat"),
                      {QStringLiteral("pty,raw,echo=0,link=%1").arg(m_theirs),
                       QStringLiteral("pty,raw,echo=0,link=%1").arg(m_ours)});
        ASSERT_TRUE(QTest::qWaitFor(
            [this] { return QFileInfo::exists(m_ours) && QFileInfo::exists(m_theirs); }, 10000))
            << "socat made no pty pair";
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(PMX_TEST_DATA_DIR "/../interop/modbus_server.py"),
                        "--device", m_theirs, "--framer", GetParam().name, "--unit",
                        QString::number(kUnit), "--registers", QString::number(kRegisters),
                        "--broadcast"});
        QByteArray said;
        for (QDeadlineTimer guard(30000); !said.contains("ready") && !guard.hasExpired();) {
            m_server.waitForReadyRead(100);
            said += m_server.readAllStandardOutput();
            if (m_server.state() == QProcess::NotRunning)
                break;
        }
        ASSERT_TRUE(said.contains("ready"))
            << "the server (Debian package python3-pymodbus) did not start: "
            << m_server.readAllStandardError().toStdString();
    }
    void TearDown() override {
        for (QProcess* p : {&m_server, &m_socat}) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    test::CliRun cli(int unit, const QStringList& args) {
        return test::runCli(
            m_dir.path(),
            QStringList{"--port", m_ours, "--protocol",
                        cond::toTexts({.protocol = ProtocolNumber(GetParam().no)}).protocol,
                        "--instrument", QString::number(unit), "--data-bits", "8", "--parity",
                        "NONE", "--timeout", "2000"} +
                args);
    }
    // A data file selecting items from..to - 1, item i holding value(i).
    QString table(int from, int to, const std::function<qint16(int)>& value) {
        ItemTable t;
        for (int i = 0; i < kItemCount; ++i) {
            t.names[i] = QStringLiteral("Item %1").arg(i);
            t.values[i] = value(i);
            if (i >= from && i < to)
                t.selections[i] = Selection::Selected;
        }
        const QString path = m_dir.filePath(QStringLiteral("t%1.dat").arg(++m_tables));
        EXPECT_TRUE(saveTableFile(path, t));
        return path;
    }

    QTemporaryDir m_dir;
    QString m_ours, m_theirs;
    QProcess m_socat, m_server;
    int m_tables = 0;
};

} // namespace

TEST_P(ModbusInterop, ReadsItemByItemAndInBlocksAndReportsMissingRegisters) {
    const QString all = table(0, kItemCount, [](int) { return qint16(-1); });
    const test::CliRun single = cli(kUnit, {"read", "--table", all});
    EXPECT_EQ(single.code, 1) << qPrintable(single.err);
    const QStringList lines = single.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), kItemCount);
    EXPECT_EQ(lines[0], "0000\tItem 0\t7");
    EXPECT_EQ(lines[99], "0063\tItem 99\t304");
    EXPECT_FALSE(lines[100].endsWith("\t-1")) << qPrintable(lines[100]);
    EXPECT_TRUE(single.err.endsWith("read: 128 items, 100 good, 28 failed\n"))
        << qPrintable(single.err);

    const test::CliRun block = cli(kUnit, {"--block-read", "read", "--table", all});
    EXPECT_EQ(std::tuple(block.code, block.out, block.err),
              std::tuple(single.code, single.out, single.err));
}

TEST_P(ModbusInterop, WritesAreKeptAndCompareAndVerifyAgree) {
    const auto value = [](int i) { return qint16(i * 331 - 16000); }; // both signs
    const QString in = table(0, kRegisters, value);
    test::CliRun r = cli(kUnit, {"write", "--table", in, "--verify"});
    EXPECT_EQ(std::tuple(r.code, r.err),
              std::tuple(0, QString("write: 99 items, 99 good, 0 failed\n")));
    // 0000h is never written, so it alone differs.
    r = cli(kUnit, {"compare", "--table", in});
    EXPECT_EQ(std::tuple(r.code, r.out), std::tuple(4, QString("0000\tItem 0\t-16000\t7\n")));

    // A broadcast is carried out unanswered.
    const QString one = table(5, 6, [](int) { return qint16(-2); });
    r = cli(0, {"write", "--table", one});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    r = cli(kUnit, {"read", "--table", one});
    EXPECT_EQ(r.out, "0005\tItem 5\t-2\n");
}

// The two Modbus protocols.
INSTANTIATE_TEST_SUITE_P(, ModbusInterop,
                         ::testing::ValuesIn(test::kProtocolCases + 1,
                                             std::end(test::kProtocolCases)),
                         ::testing::PrintToStringParamName());
