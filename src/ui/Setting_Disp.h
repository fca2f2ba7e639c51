#pragma once
#include "files/ValuePad.h"
#include "model/ItemTable.h"
#include <QDialog>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pmx {

// Setting value change dialog: a calculator-style pad editing one item's value. The
// entry lives in a ValuePad; the widgets only show it. OK stores the value and deletes
// the dialog, Cancel and the close button delete it without storing.
class Setting_Disp : public QDialog {
    Q_OBJECT
  public:
    explicit Setting_Disp(ItemTable& table, QWidget* parent = nullptr);

    // Makes curItem the edited item: refills its name and current value. The entry
    // stays as typed. Indexes outside 0..127 are ignored.
    void setItem(int curItem);
    int item() const { return m_item; }
    QString entryText() const { return m_pad.entry(); }

    void Ten_key_Click(int digit);
    void Command1_Click(); // "+/-"
    void Command2_Click(); // "CE"
    void Command3_Click(); // "OK"
    void Command4_Click(); // "Cancel"

    void reject() override;

  signals:
    // ItemData(CurItem) holds the new value; the main window posts the send request.
    void valueStored();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Shows the entry text in change_data and Disp_setdata.
    void syncEntry();
    void markOutOfRange(bool on);

    ItemTable& m_table;
    ValuePad m_pad;
    int m_item = 0;
    bool m_marked = false;
    QLineEdit* m_name = nullptr;    // Text1_1
    QLabel* m_now = nullptr;        // Now_data
    QLineEdit* m_display = nullptr; // Disp_setdata
    QLabel* m_changeData = nullptr; // change_data
    std::array<QPushButton*, 10> m_tenKey{};
};

} // namespace pmx
