#pragma once
#include <QString>

namespace pmx {
class MainWindow;
}

namespace shots {

class Shooter;

// The instrument profile against an instrument whose measured values move: the page with
// the live items, the comparison leaving live and read-only items out, the value dialog
// refusing a value outside an item's range, and the trend of the watched live items. COM1 is
// pointed at that instrument for the rest of the run, and the window is left without a profile.
// False when a picture could not be taken.
bool shootProfile(pmx::MainWindow& window, Shooter& shots, const QString& simExe,
                  const QString& model, const QString& profile);

} // namespace shots
