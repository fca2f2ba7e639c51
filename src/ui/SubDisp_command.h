#pragma once
#include "model/ItemTable.h"
#include <QDialog>
#include <QPointer>
#include <array>

class QCheckBox;
class QWindow;

namespace pmx {

// Communication item selection dialog: one box per command address, a second copy of
// the selection flags that only OK hands back to ItemSel. It may live hidden (created
// by the main window to receive box states from loaded files); OK and Cancel delete it.
class SubDisp_command : public QDialog {
    Q_OBJECT
  public:
    explicit SubDisp_command(ItemTable& table, QWidget* parent = nullptr);

    // Box state as stored in files: 1 ticks, anything else clears.
    void setBox(int i, qint16 state);
    bool boxTicked(int i) const;
    void setItemToolTip(int i, const QString& text);

    // OK (accepted(), inherited from QDialog, follows the copy into ItemSel) and Cancel.
    void Command1_Click();
    void Command2_Click();

    void reject() override;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void Form_Load();
    // Every box and tool tip from the item table; enabled states are left alone.
    void Form_Activate();
    void onFocusWindowChanged(QWindow* w);

    ItemTable& m_table;
    std::array<QCheckBox*, kItemCount> m_check{};
    // Focus window before the latest change: tells a return from another window of this
    // program (reset the boxes) from a return from another application (keep them).
    QPointer<QWindow> m_lastFocus;
};

} // namespace pmx
