#include "FinderShots.h"
#include "ShotSupport.h"

#include "app/MainWindow.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include "transfer/Dispatcher.h"
#include "ui/FinderDialog.h"
#include "ui/FittingScrollArea.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace shots {

using namespace pmx;

bool shootFinder(MainWindow& window, Shooter& shots, const QString& simExe, const QString& model) {
    Instrument unusual;
    if (!unusual.start(simExe, {QStringLiteral("--protocol"), QStringLiteral("ascii"),
                                QStringLiteral("--instrument"), QStringLiteral("1"),
                                QStringLiteral("--line"), QStringLiteral("4800-7E2"),
                                QStringLiteral("--model"), model})) {
        say(unusual.error());
        return false;
    }
    QSettingsStore().setValue(PortMap::kSection, QStringLiteral("COM1"), unusual.device());
    window.postTask(kTaskApply);
    const auto idle = [&] {
        return window.pendingTask() == kTaskIdle && !window.transferRunning();
    };
    if (!waitFor(idle, 15000)) {
        say(QStringLiteral("the window did not connect to %1").arg(unusual.device()));
        return false;
    }

    window.openFinder();
    FinderDialog* finder = window.finderDialog();
    if (!finder) {
        say(QStringLiteral("no instrument search window"));
        return false;
    }
    finder->move(40, 20);
    fitWindowToScreen(finder, nullptr, QSize(860, 640));
    bool ok = shots.shoot(finder, QStringLiteral("finder-start"));

    // Under way, some tries into the KORVAN part.
    bool shotRunning = false;
    QTimer during;
    during.setInterval(50);
    QObject::connect(&during, &QTimer::timeout, finder, [&] {
        auto* bar = finder->findChild<QProgressBar*>(QStringLiteral("ProgressBar_find"));
        if (shotRunning || !bar || !finder->running() || bar->value() < 20)
            return;
        shotRunning = true;
        ok = shots.shoot(finder, QStringLiteral("finder-running")) && ok;
    });
    during.start();
    if (auto* start = finder->findChild<QPushButton*>(QStringLiteral("Command_start")))
        start->click();
    if (!waitFor([&] { return idle() && !finder->running(); }, 120000)) {
        say(QStringLiteral("the search did not end"));
        return false;
    }
    during.stop();
    settle(300);
    ok = shots.shoot(finder, QStringLiteral("finder-result")) && ok;
    finder->close();
    settle(100);
    unusual.stop();
    return ok && shotRunning && !finder->found().isEmpty();
}

} // namespace shots
