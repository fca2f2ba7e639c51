#include "ui/FittingScrollArea.h"

#include <QLayout>
#include <QScreen>
#include <QVBoxLayout>

namespace pmx {

QSize roomOnScreen(const QWidget* window) {
    const QScreen* where = window->screen();
    if (!where)
        return {};
    return where->availableGeometry().size() - kFrameAllowance;
}

void fitWindow(QWidget* window, FittingScrollArea* area, const QSize& room, const QSize& wanted) {
    if (!room.isValid())
        return;
    window->ensurePolished(); // the sizes under the style and fonts the window will show with
    if (area) {
        // What the rest of the window (menus, labels, the button row) takes besides it.
        area->setRoom(QSize());
        const QSize rest = window->sizeHint() - area->sizeHint();
        area->setRoom(room - rest.expandedTo(QSize(0, 0)));
    }
    // The window's least size follows the room at once, not at the next layout pass.
    if (area && area->widget() && area->widget()->layout())
        area->widget()->layout()->activate();
    for (QWidget* w = area ? area->parentWidget() : nullptr; w && w != window;
         w = w->parentWidget())
        if (w->layout())
            w->layout()->activate();
    if (window->layout()) {
        window->layout()->invalidate();
        window->layout()->activate();
    }
    const QSize want = wanted.isValid() ? wanted : window->sizeHint();
    window->resize(want.boundedTo(room).expandedTo(window->minimumSizeHint()));
}

void fitWindowToScreen(QWidget* window, FittingScrollArea* area, const QSize& wanted) {
    fitWindow(window, area, roomOnScreen(window), wanted);
}

FittingScrollArea* scrollingBody(QWidget* window, QLayout* body, QLayout* buttons) {
    auto* content = new QWidget;
    // The window's own layout has the margins; a little room keeps the controls off the
    // scroll bar.
    body->setContentsMargins(0, 0, 6, 0);
    content->setLayout(body);
    auto* area = new FittingScrollArea(window);
    area->setObjectName(QStringLiteral("Scroll_body"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(content);
    auto* outer = new QVBoxLayout(window);
    outer->addWidget(area, 1);
    if (buttons)
        outer->addLayout(buttons);
    return area;
}

} // namespace pmx
