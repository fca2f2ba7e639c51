#include "ui/FocusMarks.h"

#include <QPainter>
#include <QStyleOptionButton>

namespace pmx {

namespace {

void drawRing(QWidget* widget, const QRect& around) {
    QPainter p(widget);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(widget->palette().color(QPalette::Highlight), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(around).adjusted(1, 1, -1, -1), 2, 2);
}

} // namespace

void FocusCheckBox::paintEvent(QPaintEvent* event) {
    QCheckBox::paintEvent(event);
    if (!hasFocus())
        return;
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    drawRing(this, indicator.adjusted(-1, -1, 1, 1).intersected(rect()));
}

void FocusLineEdit::paintEvent(QPaintEvent* event) {
    a11y::TextField::paintEvent(event);
    if (hasFocus())
        drawRing(this, rect());
}

} // namespace pmx
