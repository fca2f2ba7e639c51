#pragma once
#include "ui/Accessibility.h"

#include <QCheckBox>

namespace pmx {

// A check box and a line edit that show the keyboard focus with a ring in the palette's
// highlight colour. The item pages' boxes have no caption, where a style's own focus
// rectangle would be drawn, and a read-only cell's focus frame is faint in most styles.
class FocusCheckBox : public QCheckBox {
  public:
    using QCheckBox::QCheckBox;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A text field (read-only or typed into, as a screen reader is told) with the ring.
class FocusLineEdit : public a11y::TextField {
  public:
    using a11y::TextField::TextField;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pmx
