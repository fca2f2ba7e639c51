#include "ProfileShots.h"

#include "ShotSupport.h"
#include "app/MainWindow.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include "transfer/Dispatcher.h"
#include "ui/CompareDialog.h"
#include "ui/FittingScrollArea.h"
#include "ui/LiveTrend.h"
#include "ui/ValuePadDialog.h"

#include <QPushButton>

namespace shots {

using namespace pmx;

bool shootProfile(MainWindow& window, Shooter& shots, const QString& simExe, const QString& model,
                  const QString& profile) {
    Instrument live;
    if (!live.start(simExe,
                    {QStringLiteral("--protocol"), QStringLiteral("korvan"),
                     QStringLiteral("--instrument"), QStringLiteral("1"), QStringLiteral("--model"),
                     model, QStringLiteral("--live"), QStringLiteral("0001:sine:20:400"),
                     QStringLiteral("--live"), QStringLiteral("0002:sine:20:380"),
                     QStringLiteral("--live"), QStringLiteral("0003:ramp:30:150")})) {
        say(live.error());
        return false;
    }
    {
        QSettingsStore store;
        store.setValue(PortMap::kSection, QStringLiteral("COM1"), live.device());
    }
    auto* readButton = window.findChild<QPushButton*>(QStringLiteral("Command_Move_0"));
    window.postTask(kTaskApply);
    if (!waitFor([&] { return readButton->isEnabled() && window.pendingTask() == kTaskIdle; },
                 15000)) {
        say(QStringLiteral("the window did not connect to %1").arg(live.device()));
        return false;
    }
    if (!window.useProfile(profile)) {
        say(QStringLiteral("the profile %1 was refused").arg(profile));
        return false;
    }
    window.postTask(kTaskReadAll);
    if (!waitFor([&] { return window.pendingTask() == kTaskIdle && !window.transferRunning(); },
                 120000))
        return false;
    settle(300);
    bool ok = shots.shoot(&window, QStringLiteral("profile-page"));

    // The comparison after one set value changed: the live and read-only items are left
    // out and counted, and the dialog offers to include them.
    const ItemTable before = window.items();
    {
        ItemTable t = before;
        t.values[0x10] = qint16(t.values[0x10] + 10);
        window.setItems(t);
    }
    window.postTask(kTaskCompare);
    if (waitFor(
            [&] {
                return window.pendingTask() == kTaskIdle && !window.transferRunning() &&
                       window.compareDialog();
            },
            120000)) {
        CompareDialog* compare = window.compareDialog();
        compare->move(60, 40);
        fitWindowToScreen(compare, nullptr, QSize(640, 420));
        waitExposed(compare);
        settle(300);
        ok = shots.shoot(compare, QStringLiteral("profile-compare")) && ok;
        compare->accept();
    } else {
        say(QStringLiteral("the comparison did not end"));
        ok = false;
    }
    window.setItems(before);
    settle(100);

    // Linearise points: 0 to 8; 12 is refused with the reason.
    window.editValue(0x50);
    if (ValuePadDialog* pad = window.valueDialog()) {
        waitExposed(pad);
        pad->pressDigit(1);
        pad->pressDigit(2);
        pad->storeValue();
        settle(200);
        ok = shots.shoot(pad, QStringLiteral("profile-pad")) && ok;
        pad->reject();
    }
    settle(100);

    // Watching: a round every half second for a while, then the trend.
    window.setWatchInterval(500);
    window.setWatchLive(true);
    waitFor([] { return false; }, 24000);
    LiveTrend* trend = window.liveTrend();
    if (trend) {
        trend->move(80, 60);
        waitExposed(trend);
        settle(300);
    }
    ok = shots.shoot(trend, QStringLiteral("profile-trend")) && ok;
    ok = shots.shoot(&window, QStringLiteral("profile-watching")) && ok;
    window.setWatchLive(false);
    window.setWatchInterval(1000);
    if (trend)
        trend->hide();
    window.findProfile(QString()); // none by the model's name: as before
    settle(100);
    return ok;
}

} // namespace shots
