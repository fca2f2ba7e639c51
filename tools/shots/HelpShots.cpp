#include "HelpShots.h"

#include "ShotSupport.h"
#include "app/MainWindow.h"
#include "ui/FittingScrollArea.h"
#include "ui/HelpWindow.h"

namespace shots {

void shootHelp(pmx::MainWindow& window, Shooter& shooter) {
    window.showHelp(); // no help file in the private scope: the built-in guide
    pmx::HelpWindow* help = window.helpWindow();
    if (help) {
        help->move(40, 20);
        fitWindowToScreen(help, nullptr, QSize(1100, 760));
        waitExposed(help);
        // The fourth section, in either language: reading and writing.
        int sections = 0;
        for (const pmx::GuideHeading& heading : help->headings()) {
            if (heading.level == 2 && ++sections == 4) {
                help->showAnchor(heading.anchor);
                break;
            }
        }
        settle(300);
    }
    shooter.shoot(help, QStringLiteral("help"));
    if (help)
        help->close();
    settle(100);
}

} // namespace shots
