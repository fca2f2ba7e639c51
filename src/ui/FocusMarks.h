#pragma once
#include <QCheckBox>
#include <QLineEdit>

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

class FocusLineEdit : public QLineEdit {
  public:
    using QLineEdit::QLineEdit;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pmx
