#pragma once
namespace pmx {
class MainWindow;
}

namespace shots {

class Shooter;

// The built-in guide opened by Help, at the section on reading and writing.
void shootHelp(pmx::MainWindow& window, Shooter& shooter);

} // namespace shots
