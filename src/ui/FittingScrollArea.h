#pragma once
#include <QEvent>
#include <QScrollArea>
#include <QStyle>

namespace pmx {

// A scroll area that asks for the whole of its widget, as the widget would without it,
// as long as that fits in the room its window has on the screen; beyond that room it
// scrolls. So its window opens and grows to full size where there is room, and a small
// screen (a laptop at 150 %) still shows every control.
class FittingScrollArea : public QScrollArea {
  public:
    using QScrollArea::QScrollArea;

    // The most this area may claim (the screen less the rest of the window).
    void setRoom(const QSize& room) {
        m_room = room;
        updateGeometry();
    }

    QSize sizeHint() const override { return fitted(widget() ? widget()->sizeHint() : QSize()); }
    QSize minimumSizeHint() const override {
        QSize least = fitted(widget() ? widget()->minimumSizeHint() : QSize());
        if (m_room.isValid())
            least = least.boundedTo(m_room);
        // Room for the scroll bars and a little of the pages, whatever the screen.
        return least.expandedTo(QSize(bar() * 12, bar() * 8));
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The pages or the side want more room (a longer status text): so may the window.
        if (watched == widget() && event->type() == QEvent::LayoutRequest)
            updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }

  private:
    int bar() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent); }
    // The widget with the frame, and with the scroll bar that a side too long for the room
    // brings, so that the other side need not scroll as well.
    QSize fitted(const QSize& inner) const {
        const QMargins m = contentsMargins();
        QSize whole = inner + QSize(m.left() + m.right(), m.top() + m.bottom());
        if (m_room.isValid() && whole.height() > m_room.height())
            whole.rwidth() += bar();
        if (m_room.isValid() && whole.width() > m_room.width())
            whole.rheight() += bar();
        return whole;
    }

    QSize m_room;
};

// What the frame of a window (borders and title bar) takes of the screen's available area;
// the frame is not known before the window is first shown.
inline const QSize kFrameAllowance(8, 36);

// The room a window has on its screen (the available area less the frame); an invalid size
// when it has no screen.
QSize roomOnScreen(const QWidget* window);

// Sizes `window` for `room`: `area`, when given, claims no more than the room leaves beside
// the rest of the window and scrolls beyond that; the window takes `wanted` (its size hint
// when invalid), bounded by the room. With an invalid room nothing changes.
void fitWindow(QWidget* window, FittingScrollArea* area, const QSize& room,
               const QSize& wanted = QSize());
// The same for the room on the window's own screen.
void fitWindowToScreen(QWidget* window, FittingScrollArea* area = nullptr,
                       const QSize& wanted = QSize());

// Moves `window`'s controls into a FittingScrollArea: `body` (the window's own layout, not
// yet set on it) scrolls, `buttons` stays under it, always in sight. Returns the area.
FittingScrollArea* scrollingBody(QWidget* window, QLayout* body, QLayout* buttons = nullptr);

} // namespace pmx
