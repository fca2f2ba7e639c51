// The communication monitor offscreen, over a log filled by hand: rows, counters, Pause,
// Clear, failures only, Save and the ring bound.
#include "Widgets.h"
#include "comm/CommObject.h"
#include "comm/Framing.h"
#include "model/ItemTable.h"
#include "text/StringTable.h"
#include "ui/Colours.h"
#include "ui/MonitorWindow.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;
using test::child;

namespace {

ExchangeRecord korvanRead(int item, ExchangeOutcome outcome, const QByteArray& answer = "\x06") {
    ExchangeRecord r;
    r.timeMs = 1700000000123;
    r.protocol = kProtocolKorvan;
    r.request = framing::korvanRequest("!", " ", " ", itemAddressText(item).toLatin1(), "");
    r.answer = answer;
    r.outcome = outcome;
    if (outcome == ExchangeOutcome::Refused)
        r.refusalCode = QStringLiteral("02");
    r.attempts = outcome == ExchangeOutcome::ChecksumError ? 3 : 1;
    r.discardedBytes = outcome == ExchangeOutcome::Stale ? 13 : 0;
    r.roundTripMs = 12.25;
    return r;
}

struct Rig {
    explicit Rig(qsizetype capacity = 10000) : log(capacity) {
        window = std::make_unique<MonitorWindow>(
            log, [](const ExchangeRecord& r) { return QStringLiteral("item %1").arg(r.attempts); },
            [this] { return savePath; }, [this](const QString& e) { errors << e; });
        // The window draws at its own pace; here at once, as its timer would.
        log.onChanged = [this] {
            window->logChanged();
            window->refresh();
        };
    }
    QString cell(int row, int column) const {
        return window->model()->index(row, column).data().toString();
    }
    ExchangeLog log;
    std::unique_ptr<MonitorWindow> window;
    QString savePath;
    QStringList errors;
};

const ExchangeOutcome kAll[] = {ExchangeOutcome::Good,          ExchangeOutcome::Refused,
                                ExchangeOutcome::ChecksumError, ExchangeOutcome::NoAnswer,
                                ExchangeOutcome::Stale,         ExchangeOutcome::DeviceLost,
                                ExchangeOutcome::Broadcast};

} // namespace

TEST(Monitor, RowsAndCounters) {
    Rig rig;
    for (ExchangeOutcome o : kAll)
        rig.log.exchanged(korvanRead(5, o));
    QStringList outcomes;
    for (int k = 0; k < rig.window->shownRows(); ++k)
        outcomes << rig.cell(k, ExchangeTableModel::Outcome);
    EXPECT_EQ(outcomes.join('|'), "good|NAK 02|checksum error|no answer|no answer (stale answer "
                                  "discarded)|device lost|broadcast, not confirmed");
    EXPECT_EQ(rig.window->countersText(), "Exchanges 7    Good 1    Refused 1    Checksum errors 1 "
                                          "   No answer 2    Discarded bytes 13");

    rig.log.exchanged(korvanRead(0x44, ExchangeOutcome::Good,
                                 "\x06!  00441A8F\x03"
                                 "1B"));
    const int row = rig.window->shownRows() - 1;
    EXPECT_EQ(rig.cell(row, ExchangeTableModel::Request), "02 21 20 20 30 30 34 34 03 32 43");
    EXPECT_EQ(rig.cell(row, ExchangeTableModel::RequestCharacters), "<STX>!  0044<ETX>2C");
    EXPECT_EQ(rig.cell(row, ExchangeTableModel::AnswerCharacters), "<ACK>!  00441A8F<ETX>1B");
    EXPECT_EQ(rig.cell(row, ExchangeTableModel::Protocol), "KORVAN");
    EXPECT_EQ(rig.cell(row, ExchangeTableModel::RoundTrip), "12.3");
    EXPECT_EQ(rig.cell(row, ExchangeTableModel::Time).size(), 12); // HH:mm:ss.zzz

    // Modbus RTU bytes are numbers: 03 is a function code and 06 a count, no ETX or ACK.
    ExchangeRecord rtu = korvanRead(0x44, ExchangeOutcome::Good);
    rtu.protocol = kProtocolModbusRtu;
    rtu.request = QByteArray::fromHex("0103004400018419");
    rtu.answer = QByteArray::fromHex("01030206410d0a");
    rig.log.exchanged(rtu);
    EXPECT_EQ(rig.cell(row + 1, ExchangeTableModel::RequestCharacters), "...D....");
    EXPECT_EQ(rig.cell(row + 1, ExchangeTableModel::AnswerCharacters), "....A..");
}

TEST(Monitor, OpensAtTheNewestExchange) {
    Rig rig;
    for (int i = 0; i < 300; ++i)
        rig.log.exchanged(korvanRead(i % 128, ExchangeOutcome::Good));
    rig.window->show();
    QCoreApplication::processEvents();
    auto* table = child<QTableView>(rig.window.get(), "Table_exchanges");
    QScrollBar* bar = table->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    const QModelIndex last = table->model()->index(table->model()->rowCount() - 1, 0);
    EXPECT_TRUE(table->viewport()->rect().intersects(table->visualRect(last)));
}

TEST(Monitor, PauseFreezesTheRowsAndResumeCatchesUp) {
    Rig rig(4);
    rig.log.exchanged(korvanRead(1, ExchangeOutcome::Good));
    child<QPushButton>(rig.window.get(), "Command_pause")->click();
    const QString before = rig.window->countersText();
    // More than the ring holds arrives meanwhile: the frozen row's record is gone.
    for (int i = 2; i <= 6; ++i)
        rig.log.exchanged(korvanRead(i, ExchangeOutcome::NoAnswer));
    EXPECT_EQ(rig.window->shownRows(), 1);
    EXPECT_EQ(rig.window->countersText(), before);
    EXPECT_EQ(rig.cell(0, ExchangeTableModel::Outcome), "") << "dropped while paused";

    rig.window->setPaused(false);
    ASSERT_EQ(rig.window->shownRows(), 4);
    EXPECT_EQ(rig.window->model()->record(0)->request, korvanRead(3, {}).request);
    EXPECT_TRUE(rig.window->countersText().startsWith("Exchanges 6 "));
}

TEST(Monitor, RingKeepsTheLastRecordsAndFailuresOnlyFilters) {
    Rig rig(5);
    for (int i = 0; i < 12; ++i)
        rig.log.exchanged(korvanRead(i, i % 3 ? ExchangeOutcome::Good : ExchangeOutcome::NoAnswer));
    ASSERT_EQ(rig.window->shownRows(), 5); // items 7..11
    EXPECT_EQ(rig.window->model()->record(0)->request, korvanRead(7, {}).request);
    EXPECT_TRUE(rig.window->countersText().startsWith("Exchanges 12    Good 8 "));

    child<QCheckBox>(rig.window.get(), "Check_failures")->setChecked(true);
    EXPECT_EQ(rig.window->shownRows(), 1); // item 9
    rig.log.exchanged(korvanRead(12, ExchangeOutcome::Refused));
    rig.log.exchanged(korvanRead(13, ExchangeOutcome::Good));
    EXPECT_EQ(rig.window->shownRows(), 2) << "items 9 and 12";
    rig.log.exchanged(korvanRead(14, ExchangeOutcome::Good));
    EXPECT_EQ(rig.window->shownRows(), 1) << "item 9 left the ring";

    child<QPushButton>(rig.window.get(), "Command_clear")->click();
    EXPECT_EQ(rig.window->shownRows(), 0);
    EXPECT_EQ(rig.log.size(), 0);
    EXPECT_TRUE(rig.window->countersText().startsWith("Exchanges 0 "));
    rig.log.exchanged(korvanRead(1, ExchangeOutcome::NoAnswer));
    EXPECT_EQ(rig.window->shownRows(), 1);
}

TEST(Monitor, SaveWritesTheRowsOnShow) {
    Rig rig;
    QTemporaryDir dir;
    rig.log.exchanged(korvanRead(1, ExchangeOutcome::Good));
    rig.log.exchanged(korvanRead(2, ExchangeOutcome::Refused));
    rig.window->setFailuresOnly(true);
    rig.savePath = dir.filePath("monitor.txt");
    child<QPushButton>(rig.window.get(), "Command_save")->click();
    QFile f(rig.savePath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3); // counters, header, the one failure
    EXPECT_TRUE(lines[0].startsWith("Exchanges 2 "));
    EXPECT_TRUE(lines[2].contains("\t02 21 20 20 30 30 30 32 03 ")) << qPrintable(lines[2]);
    EXPECT_TRUE(lines[2].contains("\tNAK 02\t1\t12.3\t"));

    rig.savePath = dir.filePath("no/such/dir/monitor.txt");
    rig.window->save();
    ASSERT_EQ(rig.errors.size(), 1);
    EXPECT_TRUE(rig.errors[0].startsWith(rig.savePath + " could not be written."));
    rig.savePath.clear(); // cancelled: nothing happens
    rig.window->save();
    EXPECT_EQ(rig.errors.size(), 1);
}

// A read-back that found another value than was written: marked after it was shown, red on
// the comparison's ground, among the failures, counted apart.
TEST(Monitor, VerifyMismatchIsAFailureOfItsOwnKind) {
    Rig rig;
    rig.window->setFailuresOnly(true);
    rig.log.exchanged(korvanRead(0x22, ExchangeOutcome::Good));
    rig.log.exchanged(korvanRead(0x23, ExchangeOutcome::Good));
    EXPECT_EQ(rig.window->shownRows(), 0);
    rig.log.readBackDiffers(0x23, 1500, 1000);
    ASSERT_EQ(rig.window->shownRows(), 1) << "the filter took the changed row in";
    EXPECT_TRUE(rig.window->countersText().endsWith("Discarded bytes 0    Verify mismatches 1"))
        << qPrintable(rig.window->countersText());
    rig.window->setFailuresOnly(false);
    const QModelIndex marked = rig.window->model()->index(1, ExchangeTableModel::Outcome);
    EXPECT_EQ(marked.data().toString(), "verify mismatch: wrote 1500, holds 1000");
    EXPECT_EQ(marked.data(Qt::ForegroundRole).value<QBrush>().color(),
              toneColour(Tone::Failure, QGuiApplication::palette(), QPalette::Base));
    EXPECT_TRUE(marked.data(Qt::BackgroundRole).isValid());
    const QModelIndex good = rig.window->model()->index(0, ExchangeTableModel::Outcome);
    EXPECT_FALSE(good.data(Qt::BackgroundRole).isValid());
    EXPECT_FALSE(good.data(Qt::ForegroundRole).isValid());
}
