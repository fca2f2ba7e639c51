#pragma once
#include "model/ItemTable.h"
#include <QDialog>
#include <QPointer>
#include <array>

class QCheckBox;
class QWindow;

namespace pmx {

// Communication item selection dialog: one box per command address, a second copy of
// the selection flags that only OK hands back to selections. It may live hidden (created
// by the main window to receive box states from loaded files); OK and Cancel delete it.
class ItemSelectionDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ItemSelectionDialog(ItemTable& table, QWidget* parent = nullptr);

    // A box from a selection: only Selected ticks it.
    void setBox(int i, Selection state);
    bool boxTicked(int i) const;
    // Select all / Clear all: every box that is enabled (undefined items' are not).
    void setEveryBox(bool ticked);
    void setItemToolTip(int i, const QString& text);

    // OK: copies every box into the table's selection and closes (accepted() follows).
    void applySelection();
    // Cancel, Escape and the close button: closes without copying.
    void reject() override;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    // Boxes of defined items, tool tips and enabled states from the item table.
    void loadBoxes();
    // Every box and tool tip from the item table; enabled states are left alone.
    void resetBoxes();
    void onFocusWindowChanged(QWindow* w);

    ItemTable& m_table;
    std::array<QCheckBox*, kItemCount> m_boxes{};
    // Focus window before the latest change: tells a return from another window of this
    // program (reset the boxes) from a return from another application (keep them).
    QPointer<QWindow> m_lastFocus;
};

} // namespace pmx
