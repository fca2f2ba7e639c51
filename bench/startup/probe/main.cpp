// The program as it starts for the operator, plus one line on standard output ("shown")
// when the main window first paints: what the start-up benchmark times.
#include "app/MainWindow.h"
#include "app/Startup.h"

#include <QEvent>

#include <cstdio>

namespace {

class FirstPaintProbe : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool m_done = false;
};

} // namespace

int main(int argc, char** argv) {
    return pmx::runProgram(argc, argv, [](pmx::MainWindow& window) {
        window.installEventFilter(new FirstPaintProbe(&window));
    });
}
