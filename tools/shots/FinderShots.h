#pragma once
#include <QString>

namespace pmx {
class MainWindow;
}

namespace shots {

class Shooter;

// The instrument search against an instrument at unusual settings (Modbus ASCII,
// 4800 bit/s, two stop bits): the dialog before its start with the worst case stated,
// during the search, and with the instrument found. COM1 is pointed at that instrument
// for the rest of the run. False when a picture could not be taken.
bool shootFinder(pmx::MainWindow& window, Shooter& shots, const QString& simExe,
                 const QString& model);

} // namespace shots
