// The instrument search in the main window, offscreen, with a fake communication object
// that answers only at one set of conditions.
#include "MainWindowFixture.h"
#include "ui/FinderDialog.h"

#include <QPointer>
#include <QTableWidget>

using namespace pmx;
using namespace pmx::test;

namespace {

const QString kAdapter = QStringLiteral("/dev/serial/by-id/usb-Maker_A-if00-port0");
const QString kDefaults = QStringLiteral("KORVAN|0|9600|7 bit|1 bit|EVEN|COM1|300");

// Answers as an instrument at `at` would: nothing at any other conditions.
class LineFake : public FakeComm {
  public:
    ProbeTarget at{kAdapter, kProtocolModbusRtu, {2400, 8, Parity::None, 1}, 1};
    ExchangeResult sendCommand(const Request& request) override {
        const Conditions& c = conditions();
        const bool there = c.port == at.port && c.protocol == at.protocol && lineOf(c) == at.line &&
                           c.instrument == at.instrument;
        if (onSend)
            onSend();
        const QByteArray text = answer(request);
        return resultOfText(request, there ? text : QByteArray());
    }
};

// The window with one adapter plugged in, and its search dialog open.
struct Finder : WindowOver<LineFake> {
    QPointer<FinderDialog> d; // closing deletes it
    Finder() : WindowOver(false) {
        w->setPortDiscovery([] {
            return QList<SerialPortEntry>{{kAdapter, "/dev/ttyUSB7", "Maker A adapter", true}};
        });
        start();
        w->openFinder();
        d = w->finderDialog();
    }
    // Start, and the dispatcher's tick that runs the whole search.
    void search() {
        child<QPushButton>(d, "Command_start")->click();
        ASSERT_EQ(w->pendingTask(), kTaskFind);
        w->onDispatcherTick();
    }
};

} // namespace

TEST(FinderWindow, WorstCaseIsStatedBeforeTheStartAndFollowsTheOptions) {
    Finder win;
    auto* estimate = child<QLabel>(win.d, "Label_estimate");
    EXPECT_TRUE(estimate->text().startsWith("120 tries.")) << estimate->text().toStdString();
    child<QCheckBox>(win.d, "Check_allinst")->setChecked(true);
    EXPECT_TRUE(estimate->text().startsWith(QString::number(96 * 48 + 95 * 48 + 95 * 24)));
    for (int k = 0; k < 3; ++k)
        child<QCheckBox>(win.d, "Check_prot", k)->setChecked(false);
    EXPECT_FALSE(child<QPushButton>(win.d, "Command_start")->isEnabled());
}

TEST(FinderWindow, UseTheseSettingsStoresAppliesAndShowsThemInTheStatusFrame) {
    Finder win;
    child<QRadioButton>(win.d, "Option_port", 1)->setChecked(true); // every device found
    win.search();
    auto* grid = child<QTableWidget>(win.d, "Grid_found");
    ASSERT_EQ(grid->rowCount(), 1);
    QStringList row;
    for (int k = 0; k < grid->columnCount(); ++k)
        row << grid->item(0, k)->text();
    EXPECT_EQ(row.join('|'), kAdapter + "|Modbus RTU|2400|8 bit|NONE|1 bit|1||good (0000h = 0)");
    // Nothing chosen yet: the conditions in effect are back, the buttons usable again.
    EXPECT_EQ(win.statusFrame(), kDefaults);
    EXPECT_TRUE(win.readButton()->isEnabled());

    child<QPushButton>(win.d, "Command_use")->click();
    ASSERT_EQ(win.w->pendingTask(), kTaskApply);
    win.w->onDispatcherTick();
    // The apply step reads the stored record: what it shows was stored.
    EXPECT_EQ(win.statusFrame(), "Modbus RTU|1|2400|8 bit|1 bit|NONE|COM1|300");
    EXPECT_EQ(QSettingsStore().value(PortMap::kSection, "COM1", {}), kAdapter);
    EXPECT_TRUE(child<QLabel>(win.d, "Label_findstatus")->text().contains(kAdapter));
    // The dialog shows what is in effect now, for the next search.
    QCoreApplication::processEvents();
    EXPECT_EQ(child<QLabel>(win.d, "Label_instrument")->text(),
              strings::text(TextId::FinderInstrumentInEffect).arg(1));
}

TEST(FinderWindow, CancelClosingAndNothingFoundLeaveTheConditionsInEffect) {
    for (const std::string how : {"cancel", "close", "nothing"}) {
        SCOPED_TRACE(how);
        Finder win;
        const Conditions before = win.com->conditions();
        win.com->at.port = QStringLiteral("/dev/nowhere");
        int sends = 0;
        win.com->onSend = [&] {
            if (++sends == 3 && how == "cancel")
                child<QPushButton>(win.d, "Command_start")->click();
            else if (sends == 3 && how == "close")
                win.d->close();
        };
        win.search();
        EXPECT_EQ(sends, how == "nothing" ? 120 : 3);
        EXPECT_EQ(win.com->conditions(), before);
        EXPECT_EQ(win.w->pendingTask(), kTaskIdle);
        EXPECT_EQ(win.statusFrame(), kDefaults);
        if (win.d) {
            EXPECT_FALSE(child<QPushButton>(win.d, "Command_use")->isEnabled());
        }
    }
}
